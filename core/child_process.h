#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/export.h"
#include "core/limit_clock.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// What happens to one output stream of a child.
enum class Stream { kCapture, kInherit, kDiscard };

struct ChildOptions {
  std::filesystem::path cwd;                        // empty: the caller's directory
  std::optional<std::chrono::milliseconds> timeout;  // absent: wait as long as it takes
  const LimitClock* clock = &LimitClock::steady();   // what the timeout is measured on; never null
  Stream out = Stream::kCapture;
  Stream err = Stream::kCapture;
};

struct ChildResult {
  int exit_status = 0;  // the exit code, or 128 + signal number when a signal ended it
  std::string out;      // captured standard output
  std::string err;      // captured standard error
};

// The child could not be started, or ran past its time limit (it is then killed and reaped).
class ChildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs `argv` (argv[0] looked up on PATH) as a child process: never through a shell,
// standard input from /dev/null. Blocks until the child ends or the limit passes.
ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options = {});

// A long-lived child that this process talks to: its standard input, output and error are
// this process's to write and read. The child leads a process group of its own (a
// terminal's Ctrl-C reaches only this process, which decides what the child gets) and
// gets `death_signal` when the thread that started it ends, however that happens:
// SIGKILL, or a signal it catches when it must stop what it started itself.
class RunningChild {
 public:
  // Starts `argv` (looked up on PATH) in `cwd` (empty: this process's directory). Throws
  // ChildError when it cannot be started.
  explicit RunningChild(const std::vector<std::string>& argv, const std::filesystem::path& cwd = {},
                        int death_signal = SIGKILL);
  // Kills the child, when it still runs, and reaps it.
  ~RunningChild();
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  pid_t pid() const { return pid_; }
  // Read ends of the child's standard output and error (non-blocking).
  int output() const { return out_; }
  int error() const { return err_; }
  // Writes all of `bytes` to the child's standard input; false when the child no longer
  // reads it. Never raises SIGPIPE.
  bool send(std::string_view bytes);
  // Waits for the child to end; its exit status as in ChildResult. Call once.
  int wait();
  // Waits at most `limit` for the child to end: its exit status, or absent when it still
  // runs. Once it returned a status, the child is reaped.
  std::optional<int> wait_for(std::chrono::milliseconds limit);
  // True once the child has ended (it is not reaped by asking).
  bool ended() const;

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
};

}  // namespace vordak

VORDAK_PUBLIC_END
