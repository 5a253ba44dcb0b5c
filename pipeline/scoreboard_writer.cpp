#include "pipeline/scoreboard_writer.h"

#include <algorithm>
#include <cassert>

namespace vordak::pipeline {

namespace {

// Rows per block: a few megabytes of text, so that a block is worth a thread's turn and
// the blocks in flight stay small beside the scoreboard itself.
constexpr std::size_t kBlockRows = 2048;
// Bytes of a text member per piece, for the same reasons.
constexpr std::size_t kSliceBytes = 4 << 20;

}  // namespace

std::vector<ScoreboardWriter::Piece> ScoreboardWriter::layout(const Scoreboard& scoreboard) {
  std::vector<Piece> pieces{{Piece::Kind::kHead}};
  const std::size_t rows = scoreboard.rows.num_rows();
  for (std::size_t begin = 0; begin < rows; begin += kBlockRows) {
    pieces.push_back({Piece::Kind::kRows, begin, std::min(begin + kBlockRows, rows)});
  }
  pieces.push_back({Piece::Kind::kExtra});
  for (std::size_t member = 0; member < scoreboard.text_members.size(); ++member) {
    const std::size_t bytes = scoreboard.text_members[member].second.size();
    std::size_t begin = 0;
    do {
      pieces.push_back({Piece::Kind::kText, begin, std::min(begin + kSliceBytes, bytes), member});
      begin += kSliceBytes;
    } while (begin < bytes);
  }
  pieces.push_back({Piece::Kind::kEnd});
  return pieces;
}

ScoreboardWriter::ScoreboardWriter(const Scoreboard& scoreboard, WritableFile& file, unsigned threads)
    : scoreboard_(scoreboard), file_(file), pieces_(layout(scoreboard)) {
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
  // Every piece went in, in order, and the borrowed document kept its size meanwhile.
  assert(next_written_ == pieces_.size() && layout(scoreboard_).size() == pieces_.size());
}

std::string ScoreboardWriter::piece(std::size_t index) const {
  const Piece& part = pieces_.at(index);
  std::string text;
  switch (part.kind) {
    case Piece::Kind::kHead:
      text = "{\"meta\":" + to_json_text(scoreboard_.meta, JsonWriter::Layout::kCompact) + ",\"rows\":[";
      break;
    case Piece::Kind::kRows: scoreboard_.rows.append_compact_rows(text, part.begin, part.end); break;
    case Piece::Kind::kExtra:
      text = "]";
      for (const auto& [name, value] : scoreboard_.extra.items()) {
        text += ',';
        append_json_string(text, name);
        text += ':' + to_json_text(value, JsonWriter::Layout::kCompact);
      }
      break;
    case Piece::Kind::kText: {
      const auto& [name, member_text] = scoreboard_.text_members[part.member];
      if (part.begin == 0) {
        text = ",";
        append_json_string(text, name);
        text += ':';
      }
      text.append(member_text, part.begin, part.end - part.begin);
      break;
    }
    case Piece::Kind::kEnd: text = "}"; break;
  }
  return text;
}

void ScoreboardWriter::work() {
  try {
    while (true) {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || next_piece_ == pieces_.size()) return;
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
