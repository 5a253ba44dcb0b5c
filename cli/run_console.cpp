#include "cli/run_console.h"

#include <csignal>
#include <cstdio>
#include <exception>

#include "core/clock.h"
#include "core/text.h"
#include "motor/run_metrics.h"
#include "motor/run_record.h"
#include "motor/runs_page.h"

namespace vordak::cli {

RunConsole::~RunConsole() {
  // Declared after this console, the engine has ended by now.
  engine_ = nullptr;
  if (std::uncaught_exceptions() > 0) record_failure();
  // A signal that came after the last step ends the process here, its notice still able
  // to write the log; then nothing may call back into this object.
  signals_.reset();
  set_stop_notice(nullptr);
}

void RunConsole::open_log(const motor::Motor& engine, const std::string& command) {
  const motor::Season& season = engine.season();
  engine_ = &engine;
  log_.open(season.season_dir() / "run.log");
  season_dir_ = season.season_dir();
  signals_.emplace();
  set_stop_notice([this, command, season_dir = season.season_dir()](int signal) { stopped(signal, command, season_dir); });
}

void RunConsole::stopped(int signal, const std::string& command, const fs::path& season_dir) {
  const std::string line = stopped_line(command, signal, season_dir / "run.log");
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", terminal_safe(line).c_str());
  log_.line(line);
  motor::end_run_record(season_dir, motor::RunState::kStopped, 128 + signal, Env::system());
  write_metrics(command, motor::RunState::kStopped);
}

void RunConsole::failed(const std::string& command) {
  if (record_failure()) write_metrics(command, motor::RunState::kFailed);
}

bool RunConsole::record_failure() {
  if (ended_ || !season_dir_) return false;
  ended_ = true;
  try {
    motor::end_run_record(*season_dir_, motor::RunState::kFailed, 1, Env::system());
  } catch (const std::exception&) {
    // The failure on its way out is the one to report.
  }
  return true;
}

int RunConsole::finish(const std::string& command, const motor::Motor& engine) {
  const std::string line = failure_line(command, engine, Env::system());
  std::fflush(stdout);
  // Standard error is mailed and shown on terminals as it is: the working directory's name
  // must not drive them.
  if (!log_.failure().empty()) {
    std::fprintf(stderr, "vordak %s: %s\n", command.c_str(), terminal_safe(log_.failure()).c_str());
  }
  if (!line.empty()) {
    std::fprintf(stderr, "%s\n", terminal_safe(line).c_str());
    log_.line(line);
  }
  const int status = line.empty() ? 0 : 1;
  ended_ = true;
  try {
    motor::end_run_record(engine.season().season_dir(), status == 0 ? motor::RunState::kDone : motor::RunState::kFailed,
                          status, Env::system());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vordak %s: %s\n", command.c_str(), terminal_safe(error.what()).c_str());
  }
  write_metrics(command, status == 0 ? motor::RunState::kDone : motor::RunState::kFailed);
  return status;
}

void RunConsole::write_metrics(const std::string& command, motor::RunState state) const {
  if (!metrics_file_ || engine_ == nullptr) return;
  try {
    Env& env = Env::system();
    motor::RunFigures figures;
    figures.work_dir = engine_->season().work_dir().string();
    figures.state = state;
    figures.ended_at = epoch_seconds(env.now());
    figures.duration_seconds = figures.ended_at - epoch_seconds(engine_->season().pipeline_baslangic());
    figures.last_success_at =
        state == motor::RunState::kDone ? std::optional(figures.ended_at) : motor::previous_last_success(*metrics_file_, env);
    env.write_file_atomic(*metrics_file_, motor::metrics_text(figures, engine_->report()));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vordak %s: metrikler yazılamadı: %s\n", command.c_str(), terminal_safe(error.what()).c_str());
  }
}

std::string stopped_line(const std::string& command, int signal, const fs::path& log) {
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "sinyal";
  return "vordak " + command + ": " + name + " ile kesildi; günlük: " + log.string();
}

void update_runs_page(const std::string& command, const fs::path& work_dir, motor::RecordReader* records) {
  try {
    if (records != nullptr) {
      motor::write_runs_page(work_dir, Env::system(), *records);
    } else {
      motor::write_runs_page(work_dir, Env::system());
    }
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "vordak %s: çalıştırma raporu yazılamadı: %s\n", command.c_str(), error.what());
  }
}

std::string failure_line(const std::string& command, const motor::Motor& engine, Env& env) {
  std::vector<std::string> steps;
  for (const std::string& kod : engine.report().failed_steps()) {
    bool missing = false;
    for (const motor::OzetSatiri& row : engine.report().ozet_satirlar()) {
      if (row.adim == kod && row.durum == motor::StepStatus::kNotebookMissing) missing = true;
    }
    const std::string check = engine.report().data_check(kod);
    steps.push_back(missing ? kod + " (NB YOK)" : check.empty() ? kod : kod + " (veri kontrolü: " + check + ")");
  }
  if (steps.empty()) return "";
  std::string line = "vordak " + command + ": başarısız adımlar: " + join(steps, ", ");
  const fs::path season_dir = engine.season().season_dir();
  if (env.exists(season_dir / "error_report.txt")) line += "; hata raporu: " + (season_dir / "error_report.txt").string();
  if (env.exists(season_dir / "run.log")) line += "; günlük: " + (season_dir / "run.log").string();
  return line;
}

}  // namespace vordak::cli
