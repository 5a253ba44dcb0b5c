#pragma once

// A Sink that keeps a log file of the lines an operator reads: each line is appended to
// the file as it is written, with no buffer in between, so that after a crash the file
// holds the run as far as it got. Lines written before the file is opened (those of the
// engine's construction, before its season directory exists) are kept and written first.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/sink.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class LogFileSink : public Sink {
 public:
  LogFileSink() = default;
  ~LogFileSink() override;
  LogFileSink(const LogFileSink&) = delete;
  LogFileSink& operator=(const LogFileSink&) = delete;

  // Opens `path` for appending (creating it) and writes the text kept so far (none after
  // a close()). Throws IoError naming the file when it cannot be opened.
  void open(const std::filesystem::path& path);
  // Closes the file; later lines are dropped.
  void close();
  bool is_open() const { return fd_ >= 0; }
  const std::filesystem::path& path() const { return path_; }

  void line(std::string_view text) override;
  void partial(std::string_view text) override;

  // Why the log stopped, when a write failed (a full disk, say); empty otherwise. A
  // failed write never fails the run: the file is closed and the failure kept here.
  const std::string& failure() const { return failure_; }

 private:
  void append(std::string_view text);

  std::filesystem::path path_;
  int fd_ = -1;
  bool closed_ = false;
  std::string pending_;
  std::string failure_;
};

}  // namespace vordak

VORDAK_PUBLIC_END
