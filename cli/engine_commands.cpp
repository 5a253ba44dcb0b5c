// The engine's subcommands: run, step, plan and check.

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/run_console.h"
#include "core/sink.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/consistency.h"
#include "motor/motor.h"
#include "motor/registry.h"
#include "motor/source_contracts.h"
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
    {"all-steps", Kind::kFlag, "", "offer all 24 steps, each after the steps it reads (see vordak steps)"},
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
  const motor::WorkDirLock lock(motor::resolve_work_dir(arguments.work_dir), Env::system());
  RunConsole console;
  // Moved in: the executor, and with it every kernel, ends with the engine, inside the lock.
  motor::Motor engine(std::move(arguments), console.sink());
  console.open_log(engine.season());
  engine.run_all(run);
  update_runs_page("run", engine.season().work_dir(), &engine.records());
  return console.finish("run", engine);
}

int plan_command(const ParsedArgs& args) {
  const motor::RunArgs run = run_args(args);
  motor::MotorArgs engine_arguments = run_engine_args(args);
  engine_arguments.dry_run = true;
  // Checked as run checks it, though a dry run executes nothing.
  engine_arguments.executor = notebook_executor(args);
  Sink& out = stdout_sink();
  const motor::Motor engine(engine_arguments, out);
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
// no error report, at most the run log.
bool season_unused(const fs::path& season_dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(season_dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name == "run.log") continue;
    if ((name == "meta" || name == "logs") && fs::is_empty(entry.path(), error) && !error) continue;
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
  const motor::WorkDirLock lock(motor::resolve_work_dir(engine_arguments.work_dir), Env::system());
  RunConsole console;
  motor::Motor engine(std::move(engine_arguments), console.sink());
  console.open_log(engine.season());
  const std::vector<std::string> dirs = args.values("source-dir");
  bool ok = false;
  try {
    ok = engine.adim_isle(kod, params.empty() ? std::nullopt : std::optional(params), nullptr,
                          dirs.empty() ? std::nullopt : std::optional(dirs));
  } catch (...) {
    remove_unused_season(console, engine.season());
    throw;
  }
  if (!ok) remove_unused_season(console, engine.season());
  return console.finish("step", engine);
}

int check_command(const ParsedArgs& args) {
  const std::string pipeline = args.positionals().empty() ? "vrd_pipeline.ipynb" : args.positionals().front();
  const std::vector<std::string> problems = motor::tutarlilik_kontrol(pipeline);
  for (const std::string& problem : problems) stdout_sink().line(problem);
  if (problems.empty()) {
    stdout_sink().line("[OK] Sorun bulunamadı: " + std::to_string(motor::ADIM_REGISTRY.size()) + " adım, " + pipeline +
                       ", versiyon " + kVersion);
  }
  return problems.empty() ? 0 : 1;
}

}  // namespace

// A step key given to --from, --force or `step` must be registered: the engine itself
// would silently ignore a misspelt one and run everything, or leave an empty season.
void require_registered(const std::string& what, const std::string& kod) {
  if (motor::ADIM_REGISTRY.contains(kod)) return;
  throw UsageError((what.empty() ? "" : what + ": ") + "unknown step '" + kod + "'; steps: " + join(motor::registry_keys(), ", "));
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

bool run_failed(const motor::Motor& engine) { return !engine.report().failed_steps().empty(); }

std::vector<Subcommand> engine_subcommands() {
  // plan takes the options of run, so that a run's command line can be planned as it is.
  const std::vector<Option> run_opts = with(with(kEngineOptions, kRunOptions), {step_timeout_option()});
  return {
      {{"run", "", 0, 0, "Runs the pipeline: every offered step whose inputs changed, then the summary and manifest.",
        run_opts},
       run_command},
      {{"step", "STEP", 1, 1, "Processes one step as the run would: decide, execute, record.",
        with(with(kEngineOptions, kStepOptions), {step_timeout_option()})},
       step_command},
      {{"plan", "", 0, 0, "Dry run: what each step of a run would do and why; executes and writes nothing.", run_opts},
       plan_command},
      {{"check", "[PIPELINE_IPYNB]", 0, 1,
        "Checks the registry against the installed notebooks, the header notebook and the version.", {}},
       check_command},
  };
}

}  // namespace vordak::cli
