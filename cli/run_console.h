#pragma once

// What an operator sees of a run beyond its standard output: the same lines kept in the
// season's run.log, and one line on standard error when the run failed (cron and
// systemd mail or alert on standard error only).

#include <optional>
#include <string>

#include "core/log_file_sink.h"
#include "core/sink.h"
#include "core/stop_signals.h"
#include "motor/motor.h"
#include "motor/run_record.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::cli {

class RunConsole {
 public:
  RunConsole() = default;
  // A run that a failure of the engine ends (an exception on its way to main) is
  // recorded as "hata" with exit status 1; failed() records it with its metrics.
  ~RunConsole();
  RunConsole(const RunConsole&) = delete;
  RunConsole& operator=(const RunConsole&) = delete;

  // Standard output and the log: hand it to the engine.
  Sink& sink() { return tee_; }
  // Starts the season's run.log with every line written so far. From then on SIGINT and
  // SIGTERM end `vordak COMMAND` between steps (or stop the running step's notebook),
  // with one line on standard error and in the log, and the run recorded as "kesildi".
  // `engine` must outlive the engine's work.
  void open_log(const motor::Motor& engine, const std::string& command);
  // After every run, finished, failed or stopped by a signal, its metrics are written to
  // this file (motor/run_metrics.h).
  void set_metrics_file(std::optional<fs::path> file) { metrics_file_ = std::move(file); }
  // Closes the log; the season may then be removed.
  void close_log() { log_.close(); }

  // The exit status of `vordak COMMAND` after the engine's work: 0 when no step failed,
  // else 1 with the failure line on standard error (control characters escaped, as on
  // standard output) and in the log; recorded in the season's run record. A log or a
  // record that could not be written is reported on standard error too.
  int finish(const std::string& command, const motor::Motor& engine);
  // The engine's work ended in an exception, which goes on: the run is recorded as "hata"
  // with exit status 1, and its metrics written while the engine can still tell them.
  void failed(const std::string& command);

 private:
  // The line of a run that a signal stops, its record and its metrics.
  void stopped(int signal, const std::string& command, const fs::path& season_dir);
  // Records the run as "hata" (exit status 1) unless its end is recorded already; whether
  // it did.
  bool record_failure();
  // Written on standard error when they cannot be.
  void write_metrics(const std::string& command, motor::RunState state) const;

  LogFileSink log_;
  TeeSink tee_{{&stdout_sink(), &log_}};
  std::optional<fs::path> metrics_file_;
  const motor::Motor* engine_ = nullptr;  // once the log is open, while it lives
  std::optional<fs::path> season_dir_;    // once the log is open
  bool ended_ = false;                  // the run's end is recorded
  std::optional<StopSignalGuard> signals_;
};

// "vordak COMMAND: SIGINT ile kesildi; günlük: PATH": the line of a run a signal stopped.
std::string stopped_line(const std::string& command, int signal, const fs::path& log);

// Rewrites the working directory's runs page (outputs/html/vrd_runs.html). A page that
// cannot be written is reported on standard error and does not fail the command.
// After a run, `records` are those its engine has read.
void update_runs_page(const std::string& command, const fs::path& work_dir, motor::RecordReader* records = nullptr);

// "vordak COMMAND: başarısız adımlar: A, B (NB YOK); hata raporu: PATH; günlük: PATH":
// the failed steps of the engine's run, the season's error report when one was written
// and the log when it exists. Empty when no step failed.
std::string failure_line(const std::string& command, const motor::Motor& engine, Env& env);

}  // namespace vordak::cli

VORDAK_PUBLIC_END
