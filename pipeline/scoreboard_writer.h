#pragma once

// Writes the scoreboard file in the background while the run goes on: the rows are
// turned into text in blocks by several threads at once, and each block is appended to
// the file in document order and handed to the disk as soon as it is written, so that
// the final sync finds little left to do; the text members go in slices. The bytes are
// write_scoreboard's, compact.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/helper_thread.h"
#include "core/writable_file.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

class ScoreboardWriter {
 public:
  // Starts `threads` threads (at least one) writing `scoreboard` into `file`. Both are
  // only borrowed: neither may change or go away before finish() returns or the writer
  // is destroyed, and nothing else may write the file meanwhile.
  ScoreboardWriter(const Scoreboard& scoreboard, WritableFile& file, unsigned threads);
  // Stops the threads at their next block and waits for them.
  ~ScoreboardWriter();
  ScoreboardWriter(const ScoreboardWriter&) = delete;
  ScoreboardWriter& operator=(const ScoreboardWriter&) = delete;

  // Waits until the whole document is in the file; throws the first failure of a thread
  // (a full disk, say).
  void finish();

 private:
  // What one piece of the document holds: the head, a block of rows, the extra members,
  // a slice of a text member's text, or the closing brace.
  struct Piece {
    enum class Kind { kHead, kRows, kExtra, kText, kEnd } kind;
    std::size_t begin = 0;   // the rows' or the text's
    std::size_t end = 0;
    std::size_t member = 0;  // of kText, the index in text_members
  };
  static std::vector<Piece> layout(const Scoreboard& scoreboard);

  void work();
  std::string piece(std::size_t index) const;

  const Scoreboard& scoreboard_;
  WritableFile& file_;
  const std::vector<Piece> pieces_;
  std::mutex mutex_;
  std::condition_variable turn_;
  std::size_t next_piece_ = 0;    // the next piece a thread takes
  std::size_t next_written_ = 0;  // the next piece to go into the file
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::unique_ptr<HelperThread>> threads_;
};

}  // namespace vordak::pipeline
