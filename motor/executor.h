#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "motor/notebook_params.h"

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
// cannot be run at all (std::runtime_error); the executed notebook is left at
// `output_path` in both cases whenever the notebook could be started.
class NotebookExecutor {
 public:
  virtual ~NotebookExecutor() = default;
  virtual void execute_notebook(const std::string& input_path, const std::string& output_path,
                                const NotebookParams& parameters, const std::string& cwd) = 0;
};

}  // namespace vordak::motor

namespace vordak::motor {

// The executor the engine uses when none is given: our own nbclient runner, with
// papermill's parameter injection and guarantees.
std::shared_ptr<NotebookExecutor> make_default_executor();

}  // namespace vordak::motor
