#pragma once

// Where library code sends the lines an operator reads. The engine and the mart builder
// never print: they are handed a Sink, and the front end decides where the lines go
// (standard output for the `vordak` command, a string in tests, both a terminal and a
// log file for a scheduled run).

#include <string>
#include <string_view>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class Sink {
 public:
  virtual ~Sink() = default;
  // One whole line, given without its line break.
  virtual void line(std::string_view text) = 0;
  // Text that stays on the current line (a prompt waiting for its answer).
  virtual void partial(std::string_view text) = 0;
};

// Standard output, flushed after every write so that the lines interleave correctly
// with the output of child processes; control characters are shown as escapes.
Sink& stdout_sink();
// Standard error, the same way; standard output is flushed before each line.
Sink& stderr_sink();

// Keeps everything written, for tests and for callers that want the text.
class StringSink : public Sink {
 public:
  void line(std::string_view text) override;
  void partial(std::string_view text) override;
  const std::string& text() const { return text_; }
  // Everything written since the last take(), and forgets it.
  std::string take();
  // The text split at line breaks (the last, unfinished line included when not empty).
  std::vector<std::string> lines() const;

 private:
  std::string text_;
};

// Writes to every sink it was given, in order.
class TeeSink : public Sink {
 public:
  explicit TeeSink(std::vector<Sink*> targets) : targets_(std::move(targets)) {}
  void line(std::string_view text) override;
  void partial(std::string_view text) override;

 private:
  std::vector<Sink*> targets_;
};

}  // namespace vordak

VORDAK_PUBLIC_END
