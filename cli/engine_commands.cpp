// The engine's subcommands: run, step, plan and check.

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/run_console.h"
#include "core/env.h"
#include "core/sink.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/consistency.h"
#include "motor/installed_notebooks.h"
#include "motor/layout.h"
#include "motor/motor.h"
#include "motor/paths.h"
#include "motor/run_record.h"
#include "motor/source_contracts.h"
#include "motor/step_table.h"
#include "motor/work_dir_lock.h"

namespace vordak::cli {

namespace {

namespace fs = std::filesystem;
using Kind = Option::Kind;

const std::vector<Option> kEngineOptions = {
    {"work-dir", Kind::kValue, "DIR", "working directory of the run (default .)"},
    {"mode", Kind::kValue, "MODE", "run mode; \"test\" selects the test database (default prod)"},
    {"muta-filter", Kind::kValue, "PATH", "MUTA filter file handed to every notebook"},
    {"suffix", Kind::kValue, "TEXT", "suffix of output file names"},
};

const std::vector<Option> kRunOptions = {
    {"force-all", Kind::kFlag, "", "run every step regardless of change detection"},
    {"force", Kind::kRepeated, "STEP", "run this step regardless of change detection"},
    {"from", Kind::kValue, "STEP", "start at this step; earlier registry steps are skipped"},
    {"skip-ingest", Kind::kFlag, "", "leave out the ingest steps"},
    {"skip-backtest", Kind::kFlag, "", "leave out the backtest steps"},
    {"skip-ml", Kind::kFlag, "", "leave out the machine-learning steps"},
    {"referans-tarih", Kind::kRepeated, "DATE", "reference date handed to transform"},
    {"test-muta-count", Kind::kValue, "N", "run the machine-learning notebooks on N firms (0 = all)"},
    {"all-steps", Kind::kFlag, "",
     "offer all " + std::to_string(motor::step_table().size()) + " steps, each after the steps it reads (see vordak steps)"},
    {"accept", Kind::kRepeated, "CHECK",
     "accept a failed data check for this run, after looking at the data: CHECK or SOURCE:CHECK (see vordak sources)"},
};

const std::vector<Option> kStepOptions = {
    {"force", Kind::kFlag, "", "run the step regardless of change detection"},
    {"source-dir", Kind::kRepeated, "DIR", "source directory, fingerprinted before the step runs"},
    {"param", Kind::kRepeated, "NAME=VALUE", "extra notebook parameter"},
    {"accept", Kind::kRepeated, "CHECK", "accept a failed data check for this step: CHECK or SOURCE:CHECK (see vordak sources)"},
};

std::vector<Option> with(std::vector<Option> options, const std::vector<Option>& more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

// The options that every engine command shares.
motor::MotorArgs engine_args(const ParsedArgs& args) {
  motor::MotorArgs engine;
  engine.work_dir = existing_work_dir(args);
  engine.mode = args.value("mode").value_or("prod");
  engine.muta_filter_path = args.value("muta-filter");
  engine.file_suffix = args.value("suffix").value_or("");
  engine.input = std::make_shared<motor::TerminalInput>();
  return engine;
}

// Once the command line itself is sound: the directory must be a working directory. A
// run anywhere else would fill it with a database, seasons and empty pages.
void require_work_dir(const std::string& work_dir) {
  if (motor::is_work_dir(work_dir, Env::system())) return;
  throw UsageError("not a Vordak working directory: " + work_dir +
                       " (no notebooks, local_data_paths.json, db/.nb_version or seasons/)",
                   "prepare it first: vordak init --work-dir " + work_dir);
}

// The engine options of run and plan: the shared ones and the run's forcing.
motor::MotorArgs run_engine_args(const ParsedArgs& args) {
  motor::MotorArgs engine = engine_args(args);
  engine.force_all = args.flag("force-all");
  if (const auto forced = args.values("force"); !forced.empty()) {
    std::for_each(forced.begin(), forced.end(), [](const auto& k) { require_registered("--force", k); });
    engine.force_adimlar = forced;
  }
  if (const auto from = args.value("from")) {
    require_registered("--from", *from);
    engine.from_step = from;
  }
  engine.accepted_checks = args.values("accept");
  std::for_each(engine.accepted_checks.begin(), engine.accepted_checks.end(), require_known_check);
  return engine;
}

motor::RunArgs run_args(const ParsedArgs& args) {
  motor::RunArgs run;
  run.skip_ingest = args.flag("skip-ingest");
  run.skip_backtest = args.flag("skip-backtest");
  run.skip_ml = args.flag("skip-ml");
  if (const auto dates = args.values("referans-tarih"); !dates.empty()) run.referans_tarih_list = dates;
  if (const auto count = args.value("test-muta-count")) run.test_muta_count = integer_value("test-muta-count", *count);
  run.all_steps = args.flag("all-steps");
  return run;
}

int run_command(const ParsedArgs& args) {
  const motor::RunArgs run = run_args(args);
  motor::MotorArgs arguments = run_engine_args(args);
  arguments.executor = notebook_executor(args);
  require_work_dir(arguments.work_dir);
  const motor::WorkDirLock lock(motor::resolve_work_dir(arguments.work_dir), Env::system());
  RunConsole console;
  console.set_metrics_file(metrics_file(args));
  // Moved in: the executor, and with it every kernel, ends with the engine, inside the lock.
  motor::Motor engine(std::move(arguments), console.sink());
  console.open_log(engine, "run");
  try {
    engine.run_all(run);
  } catch (...) {
    console.failed("run");
    throw;
  }
  const int status = console.finish("run", engine);
  // After the run's end is recorded, so that the page shows its state.
  update_runs_page("run", engine.season().work_dir(), &engine.records());
  return status;
}

int plan_command(const ParsedArgs& args) {
  const motor::RunArgs run = run_args(args);
  motor::MotorArgs engine_arguments = run_engine_args(args);
  engine_arguments.dry_run = true;
  // Checked as run checks it, though a dry run executes nothing.
  engine_arguments.executor = notebook_executor(args);
  require_work_dir(engine_arguments.work_dir);
  Sink& out = stdout_sink();
  motor::Motor engine(engine_arguments, out);
  for (const motor::PlanRow& row : engine.plan(run)) {
    out.line("  " + pad_right(row.kod, 22) + " " + pad_right(motor::plan_verdict_text(row.karar), 8) + " " + row.sebep);
  }
  return 0;
}

// --param NAME=VALUE: a whole-number value is passed as an integer, anything else as text.
motor::NotebookParams step_params(const ParsedArgs& args) {
  motor::NotebookParams params;
  for (const std::string& item : args.values("param")) {
    const auto equals = item.find('=');
    if (equals == std::string::npos || equals == 0) throw UsageError("--param needs NAME=VALUE, got '" + item + "'");
    const std::string name = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    try {
      params.set(name, static_cast<std::int64_t>(integer_value("param", value)));
    } catch (const UsageError&) {
      params.set(name, value);
    }
  }
  return params;
}

// A season in which nothing was executed or recorded: empty meta and logs directories,
// no error report, at most the run log and the run record.
bool season_unused(const fs::path& season_dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(season_dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name == "run.log" || name == motor::kRunRecordFile) continue;
    const bool own_dir = entry.path() == motor::meta_dir(season_dir) || entry.path() == motor::log_dir(season_dir);
    if (own_dir && fs::is_empty(entry.path(), error) && !error) continue;
    return false;
  }
  return !error;
}

// A step call that failed before it ran anything leaves no season behind.
void remove_unused_season(RunConsole& console, const motor::Season& season) {
  if (!season_unused(season.season_dir())) return;
  console.close_log();
  std::error_code ignored;
  fs::remove_all(season.season_dir(), ignored);
}

int step_command(const ParsedArgs& args) {
  const std::string kod = args.positionals().front();
  require_registered("", kod);
  const motor::NotebookParams params = step_params(args);
  motor::MotorArgs engine_arguments = engine_args(args);
  if (args.flag("force")) engine_arguments.force_adimlar = std::vector<std::string>{kod};
  engine_arguments.accepted_checks = args.values("accept");
  std::for_each(engine_arguments.accepted_checks.begin(), engine_arguments.accepted_checks.end(), require_known_check);
  engine_arguments.executor = notebook_executor(args);
  require_work_dir(engine_arguments.work_dir);
  const motor::WorkDirLock lock(motor::resolve_work_dir(engine_arguments.work_dir), Env::system());
  RunConsole console;
  console.set_metrics_file(metrics_file(args));
  motor::Motor engine(std::move(engine_arguments), console.sink());
  console.open_log(engine, "step");
  const std::vector<std::string> dirs = args.values("source-dir");
  bool ok = false;
  try {
    ok = engine.adim_isle(kod, params.empty() ? std::nullopt : std::optional(params), nullptr,
                          dirs.empty() ? std::nullopt : std::optional(dirs));
  } catch (...) {
    console.failed("step");
    remove_unused_season(console, engine.season());
    throw;
  }
  if (!ok) remove_unused_season(console, engine.season());
  return console.finish("step", engine);
}

// What a working directory's notebooks lack against the package's: each notebook older
// than the package or edited since it was installed, and a version file that names
// another version. Missing notebooks are the consistency check's own "[EKSIK NB]".
std::vector<std::string> install_problems(const fs::path& work_dir) {
  std::vector<std::string> problems;
  const fs::path package = paths::get_notebooks_dir();
  for (const motor::InstalledNotebook& notebook : motor::installed_notebooks(work_dir, package, Env::system())) {
    switch (notebook.state) {
      case motor::NotebookState::kOld:
        problems.push_back("[ESKİ NB] " + notebook.name + ": " + notebook.installed_version + " kurulumu, paket " + kVersion +
                           " (vordak init --upgrade)");
        break;
      case motor::NotebookState::kEdited:
        problems.push_back("[DEĞİŞMİŞ NB] " + notebook.name + ": kurulumdan sonra değiştirilmiş");
        break;
      case motor::NotebookState::kUnrecorded:
        problems.push_back("[FARKLI NB] " + notebook.name + ": paketteki sürümden farklı, kurulum kaydı yok");
        break;
      case motor::NotebookState::kCurrent:
      case motor::NotebookState::kMissing: break;
    }
  }
  const fs::path version_file = motor::notebook_version_file(work_dir);
  if (!fs::exists(version_file)) {
    problems.push_back("[VERSİYON] " + version_file.string() + " bulunamadı (vordak init)");
  } else if (const std::string version = strip(Env::system().read_file(version_file)); version != kVersion) {
    problems.push_back("[VERSİYON] db/.nb_version v" + version + " != paket v" + kVersion);
  }
  return problems;
}

int check_command(const ParsedArgs& args) {
  const std::optional<std::string> work_dir = args.value("work-dir");
  if (work_dir && !fs::is_directory(*work_dir)) throw UsageError("--work-dir: no such directory: " + *work_dir);
  std::string pipeline = args.positionals().empty() ? "vrd_pipeline.ipynb" : args.positionals().front();
  if (work_dir && args.positionals().empty()) pipeline = (fs::path(*work_dir) / pipeline).string();
  std::vector<std::string> problems =
      motor::tutarlilik_kontrol(Env::system(), pipeline, work_dir ? std::optional<fs::path>(*work_dir) : std::nullopt);
  if (work_dir) {
    for (std::string& problem : install_problems(*work_dir)) problems.push_back(std::move(problem));
  }
  for (const std::string& problem : problems) stdout_sink().line(problem);
  if (problems.empty()) {
    stdout_sink().line("[OK] Sorun bulunamadı: " + std::to_string(motor::step_table().size()) + " adım, " + pipeline +
                       ", versiyon " + kVersion);
  }
  return problems.empty() ? 0 : 1;
}

}  // namespace

// A step key given to --from, --force or `step` must be registered: the engine itself
// would silently ignore a misspelt one and run everything, or leave an empty season.
void require_registered(const std::string& what, const std::string& kod) {
  if (motor::find_step(kod) != nullptr) return;
  const std::vector<std::string> keys = motor::step_keys();
  const std::string near = closest_match(kod, keys);
  throw UsageError((what.empty() ? "" : what + ": ") + "unknown step '" + kod + "'",
                   near.empty() ? "steps: " + join(keys, ", ") : "did you mean " + near + "? (vordak steps lists every step)");
}

// A check given to --accept must be one a load or the run makes, alone or after the
// source whose contract holds it: a misspelt one would accept nothing.
void require_known_check(const std::string& check) {
  const std::vector<std::string> names = motor::check_names();
  const std::size_t colon = check.find(':');
  if (colon == std::string::npos && std::find(names.begin(), names.end(), check) != names.end()) return;
  if (colon != std::string::npos) {
    const std::string source = check.substr(0, colon);
    const std::string name = check.substr(colon + 1);
    for (const motor::SourceContract& contract : motor::source_contracts()) {
      if (contract.kaynak != source) continue;
      for (const motor::Check& known : contract.checks) {
        if (known.name == name) return;
      }
    }
  }
  throw UsageError("--accept: unknown check '" + check + "'; checks: " + join(names, ", ") +
                   " (alone, or after a source: kik_data_ham_csv:eksik_donem; see vordak sources)");
}

// The working directory must exist: a mistyped one would otherwise be planned as empty
// or filled with a new season.
std::string existing_work_dir(const ParsedArgs& args) {
  const std::string work_dir = args.value("work-dir").value_or(".");
  if (!fs::is_directory(work_dir)) throw UsageError("--work-dir: no such directory: " + work_dir);
  return work_dir;
}

Option metrics_file_option() {
  return {"metrics-file", Kind::kValue, "PATH",
          "after the run, write its metrics for node_exporter's textfile collector to PATH (*.prom), replacing it "
          "atomically (default: the environment variable VORDAK_METRICS_FILE)"};
}

std::optional<fs::path> metrics_file(const ParsedArgs& args) {
  if (const auto given = args.value("metrics-file")) return fs::path(*given);
  const char* from_environment = std::getenv("VORDAK_METRICS_FILE");
  if (from_environment != nullptr && *from_environment != '\0') return fs::path(from_environment);
  return std::nullopt;
}

bool run_failed(const motor::Motor& engine) { return !engine.report().failed_steps().empty(); }

std::vector<Subcommand> engine_subcommands() {
  // plan takes the options of run, so that a run's command line can be planned as it is.
  const std::vector<Option> run_opts =
      with(with(kEngineOptions, kRunOptions), {step_timeout_option(), metrics_file_option()});
  return {
      {{"run", "", 0, 0, "Runs the pipeline: every offered step whose inputs changed, then the summary and manifest.",
        run_opts},
       run_command},
      {{"step", "STEP", 1, 1, "Processes one step as the run would: decide, execute, record.",
        with(with(kEngineOptions, kStepOptions), {step_timeout_option(), metrics_file_option()})},
       step_command},
      {{"plan", "", 0, 0, "Dry run: what each step of a run would do and why; executes and writes nothing.", run_opts},
       plan_command},
      {{"check", "[PIPELINE_IPYNB]", 0, 1,
        "Checks the registry against the installed notebooks, the header notebook and the version; with --work-dir, the "
        "notebooks a working directory runs: each missing, older than the package or edited since vordak init.",
        {{"work-dir", Kind::kValue, "DIR", "check this working directory's notebooks (header default DIR/vrd_pipeline.ipynb)"}}},
       check_command},
  };
}

}  // namespace vordak::cli
