#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/sink.h"
#include "core/limit_clock.h"
#include "motor/notebook_params.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// A notebook's run failed; what() starts with the exception's name and text,
// for example "KeyError: 'x'". `report` holds the failing cell and its traceback
// (terminal colour codes removed) for the error report.
class NotebookFailure : public std::runtime_error {
 public:
  NotebookFailure(const std::string& message, std::string report)
      : std::runtime_error(message), report_(std::move(report)) {}
  const std::string& report() const { return report_; }

 private:
  std::string report_;
};

// Executes notebooks as papermill does. Guarantees: the call returns only when the
// notebook has run to its end; it throws when the notebook fails (NotebookFailure) or
// cannot be run at all (IoError or BadNotebook for the file and the runner, else
// std::runtime_error); the executed notebook is left at
// `output_path` in both cases whenever the notebook could be started.
class NotebookExecutor {
 public:
  virtual ~NotebookExecutor() = default;
  virtual void execute_notebook(const std::string& input_path, const std::string& output_path,
                                const NotebookParams& parameters, const std::string& cwd) = 0;
};

}  // namespace vordak::motor

namespace vordak::motor {

struct ExecutorOptions {
  // A notebook still running after this long is stopped, with everything its kernel
  // started, and fails with "zaman aşımı (N s)"; absent: no limit.
  std::optional<std::chrono::seconds> step_timeout;
  // Where a notebook's cell progress goes ("    <notebook>: hücre N/M", then an empty
  // line when it ends); absent: terminal_progress().
  Sink* progress = nullptr;
  // What the limit is measured on; null: the steady clock.
  std::shared_ptr<const LimitClock> clock;
};

// The executor the engine uses when none is given: our own nbclient runner, with
// papermill's parameter injection and guarantees. One runner process serves every
// notebook the executor is given and ends with the executor; on SIGINT or SIGTERM during a
// notebook it stops the runner, the kernels and all they started, and the process ends by
// the signal.
std::shared_ptr<NotebookExecutor> make_default_executor(const ExecutorOptions& options = {});

}  // namespace vordak::motor

VORDAK_PUBLIC_END
