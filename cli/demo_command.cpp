// `vordak demo`: a synthetic portfolio's source extracts in a fresh working directory,
// and the whole pipeline run on them, every one of the 24 steps.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/init_command.h"
#include "core/console.h"
#include "core/files.h"
#include "core/json_writer.h"
#include "motor/motor.h"
#include "synth/portfolio_generator.h"

namespace vordak::cli {

namespace {

namespace fs = std::filesystem;

// The deposit extract has no key in the run driver's table; the demo names its
// directory in the path file all the same and hands it to ingest_depo itself.
constexpr const char* kDepoKey = "raporlama_depo";

// Steps the run driver never offers, run here after transform in this order; the
// machine-learning features read what diag_features writes.
const std::vector<std::string> kDiagnosticSteps = {"eus_diag", "diag_analysis", "diag_features", "diag_unvan",
                                                   "diag_risk"};
// The offered steps after transform, in the order in which each finds its inputs: the
// marts come last so that the first dashboards already show the predictions and the
// backtest summaries (a regular run offers the marts before them and shows the previous
// run's).
const std::vector<std::string> kLaterSteps = {"ml_features",  "ml_train",     "ml_predict", "backtest_eus",
                                              "backtest_yis", "backtest_ml", "marts"};

void write_data_paths(const fs::path& work_dir, const std::vector<std::string>& keys) {
  ordered_json paths = ordered_json::object();
  for (const std::string& key : keys) paths[key] = fs::absolute(work_dir / "external_data" / key).lexically_normal().string();
  write_file_atomic(work_dir / "local_data_paths.json", paths.dump(2) + "\n");
}

std::string source_dir(const motor::Motor& engine, const std::string& key) {
  for (const auto& [k, dir] : engine.data_paths) {
    if (k == key) return dir;
  }
  return (engine.work_dir / "external_data" / key).string();
}

std::vector<fs::path> dashboards(const fs::path& output_dir) {
  std::vector<fs::path> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(output_dir, ignored)) {
    if (entry.path().extension() == ".html") found.push_back(entry.path());
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

int demo_command(const ParsedArgs& args) {
  const auto started = std::chrono::steady_clock::now();
  const fs::path work_dir = fs::absolute(args.value("work-dir").value_or("vordak-demo")).lexically_normal();
  synth::PortfolioOptions portfolio;
  portfolio.firms = positive_option(args, "firms", 2000, 10);
  portfolio.periods = static_cast<int>(positive_option(args, "periods", 8, 4));
  portfolio.seed = static_cast<std::uint64_t>(positive_option(args, "seed", 1, 0));

  say("Vordak demo: " + work_dir.string());
  std::vector<std::string> keys = synth::write_source_extracts((work_dir / "external_data").string(), portfolio);
  say("  Kaynak veriler: " + std::to_string(portfolio.firms) + " firma, " + std::to_string(portfolio.periods) +
      " dönem -> " + (work_dir / "external_data").string());
  write_data_paths(work_dir, keys);
  const std::vector<std::string> notebooks = install_notebooks(work_dir);
  say("  " + std::to_string(notebooks.size()) + " notebook kopyalandı, local_data_paths.json yazıldı");
  if (args.flag("no-run")) {
    say("  Çalıştırmak için: vordak run --work-dir " + work_dir.string() + " ve vordak step ingest_depo --work-dir " +
        work_dir.string() + " --param SOURCE_DIR=" + (work_dir / "external_data" / kDepoKey).string());
    return 0;
  }
  say("");

  motor::MotorArgs engine_args;
  engine_args.work_dir = work_dir.string();
  motor::Motor engine(engine_args);
  engine.print_banner();

  std::map<std::string, motor::OfferedStep> offered;
  std::vector<std::string> ingest_order;
  for (motor::OfferedStep& step : engine.offered_steps(false, false, false, std::nullopt, 0)) {
    if (motor::is_ingest_step(step.kod)) ingest_order.push_back(step.kod);
    offered.emplace(step.kod, std::move(step));
  }
  const auto process = [&](const std::string& kod) {
    const auto found = offered.find(kod);
    if (found == offered.end()) {
      engine.adim_isle(kod);
    } else {
      engine.adim_isle(kod, found->second.ek_params, nullptr, found->second.source_dirs);
    }
  };

  for (const std::string& kod : ingest_order) process(kod);
  const std::string depo_dir = source_dir(engine, kDepoKey);
  motor::NotebookParams depo_params;
  depo_params.set("SOURCE_DIR", depo_dir);
  engine.adim_isle("ingest_depo", depo_params, nullptr, std::vector<std::string>{depo_dir});
  process("transform");
  for (const std::string& kod : kDiagnosticSteps) process(kod);
  for (const std::string& kod : kLaterSteps) process(kod);

  engine._temizle_error_reports();
  engine.ozet_yazdir();
  engine.manifest_yaz();

  say("");
  // The mart builder writes its dashboards beside the JSON directory, in html/.
  const fs::path html_dir = engine.output_dir.parent_path() / "html";
  const std::vector<fs::path> html = dashboards(html_dir);
  if (html.empty()) say("  [!] Dashboard yazılmadı: " + html_dir.string() + " altında .html yok");
  for (const fs::path& file : html) say("  Dashboard: " + file.string());
  say("  Yeniden çalıştırmak için: vordak run --work-dir " + work_dir.string() + " --skip-ingest");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  say("  Toplam süre: " + motor::sure_text(seconds));
  return run_failed(engine) ? 1 : 0;
}

const RegisterTool kDemo({{"demo", "", 0, 0,
                           "Makes a synthetic portfolio's source extracts and runs the whole pipeline on them.",
                           {{"work-dir", Option::Kind::kValue, "DIR", "working directory to create (default ./vordak-demo)"},
                            {"firms", Option::Kind::kValue, "N", "number of firms (default 2000)"},
                            {"periods", Option::Kind::kValue, "N", "number of monthly periods, at least 4 (default 8)"},
                            {"seed", Option::Kind::kValue, "N", "random seed (default 1)"},
                            {"no-run", Option::Kind::kFlag, "", "prepare the directory only; run nothing"}}},
                          demo_command});

}  // namespace

}  // namespace vordak::cli
