#pragma once

// The long-lived notebook runner (python/vordak/run_notebook.py, whose docstring holds the
// protocol): one process serves a whole run, one notebook at a time, each in a fresh kernel
// started while the notebook before it ran. This side stops what the runner and its kernels
// started: a step's leftovers when it ends, the step's whole process tree when its time
// limit passes, everything on SIGINT or SIGTERM and when the runner is closed. Every
// process below this one is taken for the run's: the engine waits for its own children
// (run_child) before it goes on, and orphans of the kernels' children become its children.

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
  // Starts `argv`. From then on this process adopts the orphans of what the runner
  // starts. Throws ChildError when the runner cannot be started.
  explicit NotebookRunner(const std::vector<std::string>& argv);
  // Kills the runner, its kernels and everything they started, at once.
  ~NotebookRunner();
  NotebookRunner(const NotebookRunner&) = delete;
  NotebookRunner& operator=(const NotebookRunner&) = delete;

  // Executes the notebook at `notebook` (written back there) in `cwd`, passing every
  // message but the status to `on_message`, and waits for the status. When the notebook
  // has run for `limit` in its kernel, the kernel and everything it started are killed
  // and the runner gets a moment to write the notebook as far as it got. On SIGINT or
  // SIGTERM everything is killed, the notebook's unfinished temporary file removed, and
  // this process ends by the signal.
  RunnerAnswer execute(const fs::path& notebook, const fs::path& cwd,
                       const std::function<void(const ordered_json&)>& on_message,
                       std::optional<std::chrono::seconds> limit);

  // False once the runner has ended or been stopped: a new one must be started.
  bool alive() const { return child_ != nullptr; }

 private:
  using Clock = std::chrono::steady_clock;

  // Kills every process below this one, the runner included; the runner's exit status.
  std::optional<int> stop_all();
  // stop_all(), and removes the notebook's unfinished temporary file.
  std::optional<int> abandon(const fs::path& unfinished);
  // Kills `kernel` with everything below it and every orphan this process adopted.
  void stop_step(pid_t kernel) const;
  // Waits until the runner writes or `deadline` passes. On SIGINT or SIGTERM it abandons
  // the notebook and ends the process by the signal.
  void wait_for_output(const StopSignalGuard& signals, const fs::path& unfinished, Clock::time_point deadline);
  // Keeps the end of what arrived on the runner's standard error in `tail`.
  void read_errors(std::string& tail);
  // Takes the complete channel lines: the status into `answer`, the rest to `on_message`.
  // The kernel's pid when a line announced it, else 0.
  pid_t take_messages(RunnerAnswer& answer, const std::function<void(const ordered_json&)>& on_message);

  std::unique_ptr<RunningChild> child_;
  std::string pending_;  // channel text after the last complete line
  bool errors_open_ = true;
};

}  // namespace vordak::motor
