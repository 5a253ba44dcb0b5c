#include "pipeline/scoreboard_writer.h"

#include <algorithm>
#include <cassert>

namespace vordak::pipeline {

namespace {

// Rows per block: a few megabytes of text, so that a block is worth a thread's turn and
// the blocks in flight stay small beside the scoreboard itself.
constexpr std::size_t kBlockRows = 2048;

std::size_t block_count(const Scoreboard& scoreboard) {
  return (scoreboard.rows.num_rows() + kBlockRows - 1) / kBlockRows;
}

}  // namespace

ScoreboardWriter::ScoreboardWriter(const Scoreboard& scoreboard, WritableFile& file, unsigned threads)
    : scoreboard_(scoreboard), file_(file), pieces_(block_count(scoreboard) + 2) {
  for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
    threads_.push_back(std::make_unique<HelperThread>([this] { work(); }));
  }
}

ScoreboardWriter::~ScoreboardWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  turn_.notify_all();
  for (const std::unique_ptr<HelperThread>& thread : threads_) thread->join();
}

void ScoreboardWriter::finish() {
  for (const std::unique_ptr<HelperThread>& thread : threads_) thread->join();
  if (failure_) std::rethrow_exception(failure_);
  // Every piece went in, in order, and the borrowed rows kept their number meanwhile.
  assert(next_written_ == pieces_ && block_count(scoreboard_) + 2 == pieces_);
}

std::string ScoreboardWriter::piece(std::size_t index) const {
  assert(index < pieces_);
  std::string text;
  if (index == 0) {
    text = "{\"meta\":" + to_json_text(scoreboard_.meta, JsonWriter::Layout::kCompact) + ",\"rows\":[";
  } else if (index + 1 < pieces_) {
    const std::size_t begin = (index - 1) * kBlockRows;
    scoreboard_.rows.append_compact_rows(text, begin, std::min(begin + kBlockRows, scoreboard_.rows.num_rows()));
  } else {
    text = "]";
    for (const auto& [name, value] : scoreboard_.extra.items()) {
      text += ',';
      append_json_string(text, name);
      text += ':' + to_json_text(value, JsonWriter::Layout::kCompact);
    }
    text += '}';
  }
  return text;
}

void ScoreboardWriter::work() {
  try {
    while (true) {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || next_piece_ == pieces_) return;
        index = next_piece_++;
      }
      const std::string text = piece(index);
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [&] { return stopping_ || next_written_ == index; });
      if (stopping_) return;
      // The file is written under the lock: only the thread whose turn it is touches it.
      assert(next_written_ == index && next_piece_ > index);
      file_.append(text);
      file_.start_writeback();
      ++next_written_;
      lock.unlock();
      turn_.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      stopping_ = true;
    }
    turn_.notify_all();
  }
}

}  // namespace vordak::pipeline
