// `vordak demo`: a synthetic portfolio's source extracts in a fresh working directory,
// and the whole pipeline run on them, every step of the table.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/init_command.h"
#include "cli/run_console.h"
#include "core/sink.h"
#include "core/env.h"
#include "core/json_writer.h"
#include "motor/motor.h"
#include "motor/work_dir_lock.h"
#include "synth/portfolio_generator.h"

namespace vordak::cli {

namespace {

namespace fs = std::filesystem;

void write_data_paths(const fs::path& work_dir, const std::vector<std::string>& keys) {
  ordered_json paths = ordered_json::object();
  for (const std::string& key : keys) paths[key] = fs::absolute(work_dir / "external_data" / key).lexically_normal().string();
  Env::system().write_file_atomic(work_dir / "local_data_paths.json", paths.dump(2) + "\n");
}

std::vector<fs::path> dashboards(const fs::path& output_dir) {
  std::vector<fs::path> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(output_dir, ignored)) {
    const bool dashboard = entry.path().extension() == ".html" && entry.path().filename() != "vrd_runs.html";
    if (dashboard) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

long long positive_option(const ParsedArgs& args, const std::string& name, long long fallback, long long minimum) {
  const auto text = args.value(name);
  if (!text) return fallback;
  const long long value = integer_value(name, *text);
  if (value < minimum) throw UsageError("--" + name + " must be at least " + std::to_string(minimum));
  return value;
}

// The smallest portfolio whose every step runs: 500 firms give its ML backtest, over 4
// periods, a few YI events in each earlier period whatever the seed.
constexpr long long kLeastFirms = 500;

// Marks a directory as made by the demo: only such a directory is wiped by the next demo.
constexpr const char* kDemoMarker = ".vordak-demo";

// The demo's working directory, made when missing. An existing directory is taken only
// when a demo made it; any other non-empty directory is refused, since the demo would
// replace its data-source map and notebooks.
void refuse_foreign_work_dir(const fs::path& work_dir) {
  if (!fs::exists(work_dir)) return;
  if (!fs::is_directory(work_dir)) throw UsageError("--work-dir: not a directory: " + work_dir.string());
  if (!fs::is_empty(work_dir) && !fs::exists(work_dir / kDemoMarker)) {
    throw UsageError("--work-dir: " + work_dir.string() + " is not empty and not a demo directory (no " + kDemoMarker +
                     "); remove it or choose another directory");
  }
}

// Empties the demo directory whose lock this process holds, keeping the lock file. The
// directory is listed by the lock's canonical path, so that its entries compare with the
// lock's own name even when --work-dir reaches it through a symbolic link.
void clear_demo_dir(const motor::WorkDirLock& lock) {
  const fs::path dir = lock.path().parent_path();
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path() != lock.path()) fs::remove_all(entry.path());
  }
  Env::system().write_file_atomic(dir / kDemoMarker, "vordak demo\n");
}

// How the operator calls this binary: "vordak" when that name on PATH is this program,
// else its path, relative to the current directory when it lies below it.
std::string command_name() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return "vordak";
  const char* path_env = std::getenv("PATH");
  std::stringstream dirs(path_env == nullptr ? "" : path_env);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const fs::path candidate = fs::path(dir) / "vordak";
    if (::access(candidate.c_str(), X_OK) != 0) continue;
    if (fs::equivalent(candidate, self, error)) return "vordak";
    break;  // another vordak comes first on PATH
  }
  const fs::path relative = self.lexically_relative(fs::current_path(error));
  if (!error && !relative.empty() && *relative.begin() != "..") return relative.string();
  return self.string();
}

int demo_command(const ParsedArgs& args) {
  const auto started = std::chrono::steady_clock::now();
  const fs::path work_dir = fs::absolute(args.value("work-dir").value_or("vordak-demo")).lexically_normal();
  synth::PortfolioOptions portfolio;
  // The ML backtest learns from the YI events of its earlier periods: with fewer firms
  // the generated portfolio may hold none there (50 firms mostly do), and the step fails.
  portfolio.firms = positive_option(args, "firms", 2000, kLeastFirms);
  portfolio.periods = static_cast<int>(positive_option(args, "periods", 8, 4));
  portfolio.seed = static_cast<std::uint64_t>(positive_option(args, "seed", 1, 0));
  refuse_foreign_work_dir(work_dir);
  std::shared_ptr<motor::NotebookExecutor> executor = notebook_executor(args);
  fs::create_directories(work_dir);
  // Held from before the directory is cleared to the end of the run: a demo never wipes
  // a directory that another run is using.
  const motor::WorkDirLock lock(motor::resolve_work_dir(work_dir.string()), Env::system());
  clear_demo_dir(lock);

  RunConsole console;
  Sink& out = console.sink();
  out.line("Vordak demo: " + work_dir.string());
  std::vector<std::string> keys = synth::write_source_extracts((work_dir / "external_data").string(), portfolio);
  out.line("  Kaynak veriler: " + std::to_string(portfolio.firms) + " firma, " + std::to_string(portfolio.periods) +
      " dönem -> " + (work_dir / "external_data").string());
  write_data_paths(work_dir, keys);
  const std::vector<std::string> notebooks = install_notebooks(work_dir, InstallMode::kForce).copied;
  out.line("  " + std::to_string(notebooks.size()) + " notebook kopyalandı, local_data_paths.json yazıldı");
  const std::string vordak = command_name();
  if (args.flag("no-run")) {
    out.line("  Çalıştırmak için: " + vordak + " run --work-dir " + work_dir.string() + " --all-steps");
    return 0;
  }
  out.line("");

  motor::MotorArgs engine_args;
  engine_args.work_dir = work_dir.string();
  // Moved in: the executor, and with it every kernel, ends with the engine, inside the lock.
  engine_args.executor = std::move(executor);
  motor::Motor engine(engine_args, out);
  console.open_log(engine, "demo");
  // Every step, each after the steps it reads: the dashboards of the first run already
  // show the predictions and the backtests.
  motor::RunArgs run;
  run.all_steps = true;
  engine.run_all(run);
  const int status = console.finish("demo", engine);
  update_runs_page("demo", work_dir, &engine.records());

  out.line("");
  // The mart builder writes its dashboards beside the JSON directory, in html/.
  const fs::path html_dir = engine.season().output_dir().parent_path() / "html";
  const std::vector<fs::path> html = dashboards(html_dir);
  if (html.empty()) out.line("  [!] Dashboard yazılmadı: " + html_dir.string() + " altında dashboard yok");
  for (const fs::path& file : html) out.line("  Dashboard: " + file.string());
  out.line("  Çalıştırmalar: " + (html_dir / "vrd_runs.html").string());
  out.line("  Yeniden çalıştırmak için: " + vordak + " run --work-dir " + work_dir.string() + " --skip-ingest");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  out.line("  Toplam süre: " + motor::sure_text(seconds));
  return status;
}

const RegisterTool kDemo({{"demo", "", 0, 0,
                           "Makes a synthetic portfolio's source extracts and runs the whole pipeline on them.",
                           {{"work-dir", Option::Kind::kValue, "DIR", "working directory to create, or an earlier demo's to replace (default ./vordak-demo)"},
                            {"firms", Option::Kind::kValue, "N", "number of firms, at least 500 (default 2000)"},
                            {"periods", Option::Kind::kValue, "N", "number of monthly periods, at least 4 (default 8)"},
                            {"seed", Option::Kind::kValue, "N", "random seed (default 1)"},
                            {"no-run", Option::Kind::kFlag, "", "prepare the directory only; run nothing"},
                            step_timeout_option()}},
                          demo_command});

}  // namespace

}  // namespace vordak::cli
