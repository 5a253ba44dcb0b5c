#pragma once

// The long-lived notebook runner (python/vordak/run_notebook.py, whose docstring holds the
// protocol): one process serves a whole run, one notebook at a time, each in a fresh kernel
// started while the notebook before it ran. The runner adopts and stops everything its
// kernels start; this side touches only the runner it started: it asks it to stop a
// notebook whose time is up (SIGUSR1) and to stop everything (SIGHUP, also sent by the
// kernel when this process ends in any way), and kills it only when it does not answer.
// The kernels' connection files are made in a directory of the runner's own, removed
// with it. This process holds a lock on that directory while it lives; a run killed
// with its whole process group cannot remove it, and a later run removes it instead.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/child_process.h"
#include "core/json_writer.h"
#include "core/limit_clock.h"
#include "core/stop_signals.h"

namespace vordak::motor {

namespace fs = std::filesystem;

struct RunnerAnswer {
  ordered_json status = ordered_json::object();  // the status line; empty when none came
  bool timed_out = false;                          // the step's time limit passed
  std::optional<int> exit_status;                  // set when the runner has ended
  std::string err_tail;  // the end of what the runner and the kernel wrote on standard error
};

class NotebookRunner {
 public:
  // Starts `argv`, given the runner's connection directory as --connection-dir. Throws
  // ChildError when the runner cannot be started. Every wait is measured on `clock`.
  explicit NotebookRunner(std::vector<std::string> argv, const LimitClock& clock = LimitClock::steady());
  // Stops the runner, which stops its kernels and everything they started.
  ~NotebookRunner();
  NotebookRunner(const NotebookRunner&) = delete;
  NotebookRunner& operator=(const NotebookRunner&) = delete;

  // Executes the notebook at `notebook` (written back there) in `cwd`, passing every
  // message but the status to `on_message`, and waits for the status. When the notebook
  // has run for `limit` in its kernel, the runner kills the kernel and everything it
  // started and writes the notebook as far as it got. On SIGINT or SIGTERM everything is
  // stopped, the notebook's unfinished temporary file removed, and this process ends by
  // the signal.
  RunnerAnswer execute(const fs::path& notebook, const fs::path& cwd,
                       const std::function<void(const ordered_json&)>& on_message,
                       std::optional<std::chrono::seconds> limit);

  // False once the runner has ended or been stopped: a new one must be started.
  bool alive() const { return child_ != nullptr && !child_->ended(); }

 private:
  using TimePoint = LimitClock::time_point;

  // A directory of the runner's own, made before it starts and removed after it ended.
  class ConnectionDir {
   public:
    ConnectionDir();
    ~ConnectionDir();
    ConnectionDir(const ConnectionDir&) = delete;
    ConnectionDir& operator=(const ConnectionDir&) = delete;
    const fs::path& path() const { return path_; }

   private:
    fs::path path_;
    int lock_fd_ = -1;  // open on the directory, locked; closed only after its removal
  };

  // Asks the runner to stop everything and end, kills it when it does not within a few
  // seconds, and reaps it; its exit status.
  std::optional<int> stop();
  // stop(), and removes the notebook's unfinished temporary file.
  std::optional<int> abandon(const fs::path& unfinished);
  // Waits until the runner writes or `deadline` passes. On SIGINT or SIGTERM it abandons
  // the notebook and ends the process by the signal.
  void wait_for_output(const StopSignalGuard& signals, const fs::path& unfinished, TimePoint deadline);
  // Keeps the end of what arrived on the runner's standard error in `tail`.
  void read_errors(std::string& tail);
  // Takes the complete channel lines in order: the status into `answer`, the rest to
  // `on_message`.
  void take_messages(RunnerAnswer& answer, const std::function<void(const ordered_json&)>& on_message);

  const LimitClock& clock_;
  ConnectionDir connections_;
  std::unique_ptr<RunningChild> child_;
  std::string pending_;  // channel text after the last complete line
  bool errors_open_ = true;
};

}  // namespace vordak::motor
