#include "cli/run_console.h"

#include <cstdio>

#include "core/text.h"
#include "motor/runs_page.h"

namespace vordak::cli {

void RunConsole::open_log(const motor::Season& season) { log_.open(season.season_dir() / "run.log"); }

int RunConsole::finish(const std::string& command, const motor::Motor& engine) {
  const std::string line = failure_line(command, engine, Env::system());
  std::fflush(stdout);
  // Standard error is mailed and shown on terminals as it is: the working directory's name
  // must not drive them.
  if (!log_.failure().empty()) {
    std::fprintf(stderr, "vordak %s: %s\n", command.c_str(), terminal_safe(log_.failure()).c_str());
  }
  if (line.empty()) return 0;
  std::fprintf(stderr, "%s\n", terminal_safe(line).c_str());
  log_.line(line);
  return 1;
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
