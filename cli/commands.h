#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "motor/motor.h"
#include "motor/work_dir_lock.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::cli {

// One subcommand: its description for parsing and help, and what it does. `run`
// returns the process exit status (0 success, 1 the work failed); it throws UsageError
// for a usage mistake.
struct Subcommand {
  Command command;
  int (*run)(const ParsedArgs& args);
};

// The engine's subcommands: run, step, plan, check.
std::vector<Subcommand> engine_subcommands();

// True when a step of the engine's run ended in "HATA" or "NB YOK".
bool run_failed(const motor::Motor& engine);

// A UsageError naming `what` (an option, or empty) and listing the registry's keys when
// `kod` is not a registered step.
void require_registered(const std::string& what, const std::string& kod);

// A UsageError listing the known checks when `check` (given to --accept) is none of them.
void require_known_check(const std::string& check);

// The --work-dir option's directory (default "."); a UsageError naming it when it is
// not an existing directory.
std::string existing_work_dir(const ParsedArgs& args);

// --metrics-file PATH, for the commands that run steps.
Option metrics_file_option();
// Where a run writes its metrics: --metrics-file, else the environment variable
// VORDAK_METRICS_FILE (for a systemd unit); absent when neither is set.
std::optional<std::filesystem::path> metrics_file(const ParsedArgs& args);

// --step-timeout SECONDS, for the commands that execute notebooks.
Option step_timeout_option();

// The notebook executor of a command that executes notebooks: a step's time limit comes
// from --step-timeout, else from the environment variable VORDAK_STEP_TIMEOUT; neither set
// means no limit. Throws UsageError for a value that is not a whole number of seconds
// from 1 to 31536000 (a year).
std::shared_ptr<motor::NotebookExecutor> notebook_executor(const ParsedArgs& args);

}  // namespace vordak::cli

namespace vordak::cli {

// The tools around the engine (marts, init, sql, demo), in that order. Each tool's
// source file registers itself with a RegisterTool object at namespace scope.
std::vector<Subcommand> tool_subcommands();

struct RegisterTool {
  explicit RegisterTool(Subcommand subcommand);
};

// The directory of the library that holds the commands (build tree or lib/vordak): the
// module of the data commands, libvordak_data.so, lies beside it. Empty when unknown.
std::filesystem::path commands_library_dir();

// For `vordak COMMAND --db DB_PATH`: the lock of the working directory the database
// belongs to (motor::lock_database_work_dir), waited for with a line on standard error
// while a run holds it.
std::unique_ptr<motor::WorkDirLock> lock_database(const std::string& db_path, const std::string& command);

}  // namespace vordak::cli

VORDAK_PUBLIC_END
