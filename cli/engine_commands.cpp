// The engine's subcommands: run, step, plan and check.

#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "core/sink.h"
#include "core/text.h"
#include "motor/consistency.h"
#include "motor/motor.h"
#include "motor/registry.h"
#include "motor/work_dir_lock.h"

namespace vordak::cli {

namespace {

using Kind = Option::Kind;

const std::vector<Option> kEngineOptions = {
    {"work-dir", Kind::kValue, "DIR", "working directory of the run (default .)"},
    {"mode", Kind::kValue, "MODE", "run mode; \"test\" selects the test database (default prod)"},
    {"force-all", Kind::kFlag, "", "run every step regardless of change detection"},
    {"force", Kind::kRepeated, "STEP", "run this step regardless of change detection"},
    {"from", Kind::kValue, "STEP", "start at this step; earlier registry steps are skipped"},
    {"muta-filter", Kind::kValue, "PATH", "MUTA filter file handed to every notebook"},
    {"suffix", Kind::kValue, "TEXT", "suffix of output file names"},
};

const std::vector<Option> kRunOptions = {
    {"skip-ingest", Kind::kFlag, "", "leave out the ingest steps"},
    {"skip-backtest", Kind::kFlag, "", "leave out the backtest steps"},
    {"skip-ml", Kind::kFlag, "", "leave out the machine-learning steps"},
    {"referans-tarih", Kind::kRepeated, "DATE", "reference date handed to transform"},
    {"test-muta-count", Kind::kValue, "N", "run the machine-learning notebooks on N firms (0 = all)"},
    {"all-steps", Kind::kFlag, "", "offer all 24 steps, each after the steps it reads (see vordak steps)"},
};

std::vector<Option> with(std::vector<Option> options, const std::vector<Option>& more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

// A step key given to --from or --force must be registered: the engine itself would
// silently ignore a misspelt one and run everything.
void require_registered(const std::string& option, const std::string& kod) {
  if (motor::ADIM_REGISTRY.contains(kod)) return;
  throw UsageError("--" + option + ": unknown step '" + kod + "'; steps: " + join(motor::registry_keys(), ", "));
}

motor::MotorArgs engine_args(const ParsedArgs& args, bool check_keys) {
  motor::MotorArgs engine;
  engine.work_dir = args.value("work-dir").value_or(".");
  engine.mode = args.value("mode").value_or("prod");
  engine.force_all = args.flag("force-all");
  if (const auto forced = args.values("force"); !forced.empty()) {
    if (check_keys) std::for_each(forced.begin(), forced.end(), [](const auto& k) { require_registered("force", k); });
    engine.force_adimlar = forced;
  }
  if (const auto from = args.value("from")) {
    if (check_keys) require_registered("from", *from);
    engine.from_step = from;
  }
  engine.muta_filter_path = args.value("muta-filter");
  engine.file_suffix = args.value("suffix").value_or("");
  engine.input = std::make_shared<motor::TerminalInput>();
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
  const motor::MotorArgs arguments = engine_args(args, true);
  const motor::WorkDirLock lock(motor::resolve_work_dir(arguments.work_dir), Env::system());
  motor::Motor engine(arguments, stdout_sink());
  engine.run_all(run);
  return run_failed(engine) ? 1 : 0;
}

int plan_command(const ParsedArgs& args) {
  const motor::RunArgs run = run_args(args);
  motor::MotorArgs engine_arguments = engine_args(args, true);
  engine_arguments.dry_run = true;
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

int step_command(const ParsedArgs& args) {
  const motor::NotebookParams params = step_params(args);
  const motor::MotorArgs arguments = engine_args(args, false);
  const motor::WorkDirLock lock(motor::resolve_work_dir(arguments.work_dir), Env::system());
  motor::Motor engine(arguments, stdout_sink());
  const std::vector<std::string> dirs = args.values("source-dir");
  const bool ok = engine.adim_isle(args.positionals().front(), params.empty() ? std::nullopt : std::optional(params),
                                   nullptr, dirs.empty() ? std::nullopt : std::optional(dirs));
  return ok ? 0 : 1;
}

int check_command(const ParsedArgs& args) {
  const std::vector<std::string> problems =
      args.positionals().empty() ? motor::tutarlilik_kontrol() : motor::tutarlilik_kontrol(args.positionals().front());
  for (const std::string& problem : problems) stdout_sink().line(problem);
  return problems.empty() ? 0 : 1;
}

}  // namespace

bool run_failed(const motor::Motor& engine) { return !engine.report().failed_steps().empty(); }

std::vector<Subcommand> engine_subcommands() {
  const std::vector<Option> run_opts = with(kEngineOptions, kRunOptions);
  return {
      {{"run", "", 0, 0, "Runs the pipeline: every offered step whose inputs changed, then the summary and manifest.",
        run_opts},
       run_command},
      {{"step", "STEP", 1, 1, "Processes one step as the run would: decide, execute, record.",
        with(kEngineOptions, {{"source-dir", Kind::kRepeated, "DIR", "source directory fingerprinted after the run"},
                              {"param", Kind::kRepeated, "NAME=VALUE", "extra notebook parameter"}})},
       step_command},
      {{"plan", "", 0, 0, "Dry run: what each step of a run would do and why; executes and writes nothing.", run_opts},
       plan_command},
      {{"check", "[PIPELINE_IPYNB]", 0, 1,
        "Checks the registry against the installed notebooks, the header notebook and the version.", {}},
       check_command},
  };
}

}  // namespace vordak::cli
