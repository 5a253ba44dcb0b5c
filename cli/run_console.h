#pragma once

// What an operator sees of a run beyond its standard output: the same lines kept in the
// season's run.log, and one line on standard error when the run failed (cron and
// systemd mail or alert on standard error only).

#include <string>

#include "core/log_file_sink.h"
#include "core/sink.h"
#include "motor/motor.h"

namespace vordak::cli {

class RunConsole {
 public:
  RunConsole() = default;
  RunConsole(const RunConsole&) = delete;
  RunConsole& operator=(const RunConsole&) = delete;

  // Standard output and the log: hand it to the engine.
  Sink& sink() { return tee_; }
  // Starts season_dir/run.log with every line written so far.
  void open_log(const motor::Season& season);
  // Closes the log; the season may then be removed.
  void close_log() { log_.close(); }

  // The exit status of `vordak COMMAND` after the engine's work: 0 when no step failed,
  // else 1 with the failure line on standard error (control characters escaped, as on
  // standard output) and in the log. A log that could not be written is reported on
  // standard error too.
  int finish(const std::string& command, const motor::Motor& engine);

 private:
  LogFileSink log_;
  TeeSink tee_{{&stdout_sink(), &log_}};
};

// Rewrites the working directory's runs page (outputs/html/vrd_runs.html). A page that
// cannot be written is reported on standard error and does not fail the command.
// After a run, `records` are those its engine has read.
void update_runs_page(const std::string& command, const fs::path& work_dir, motor::RecordReader* records = nullptr);

// "vordak COMMAND: başarısız adımlar: A, B (NB YOK); hata raporu: PATH; günlük: PATH":
// the failed steps of the engine's run, the season's error report when one was written
// and the log when it exists. Empty when no step failed.
std::string failure_line(const std::string& command, const motor::Motor& engine, Env& env);

}  // namespace vordak::cli
