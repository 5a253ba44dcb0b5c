// The run driver: the banner, the steps offered in their order with their parameters,
// and the records at the end.

#include <functional>
#include <set>

#include "core/stop_signals.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/layout.h"
#include "motor/motor.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

// What a run hands the step beyond the base parameters: its data sources, then its
// run parameters, in the step table's order.
OfferedStep offer(const StepDefinition& definition, const Season& season, const RunArgs& run) {
  OfferedStep step{definition.kod, std::nullopt, std::nullopt, std::nullopt};
  NotebookParams params;
  if (!definition.data_sources.empty()) {
    std::vector<std::string> dirs;
    for (const std::string& key : definition.data_sources) dirs.push_back(season.resolve_source(key));
    const std::string name(source_param_name(definition.source_param));
    params.set(name, definition.source_param == SourceParam::kSourceDirs ? join(dirs, ",") : dirs.front());
    step.source_dirs = dirs;
  }
  for (const RunParam param : definition.run_params) {
    const std::string name(param_name(param));
    switch (param) {
      case RunParam::kLogDir: params.set(name, season.log_dir().string()); break;
      case RunParam::kReferansTarihList:
        if (run.referans_tarih_list && !run.referans_tarih_list->empty()) {
          params.set(name, python_list_text(*run.referans_tarih_list));
        }
        break;
      case RunParam::kCacheDir: params.set(name, cache_dir(season.work_dir()).string()); break;
      case RunParam::kTestMutaCount: params.set(name, run.test_muta_count); break;
      case RunParam::kModelDir: params.set(name, model_dir(season.work_dir()).string()); break;
      case RunParam::kScoreboardPath:
        params.set(name, (season.output_dir() / ("sample_scoreboard" + season.file_suffix() + ".json")).string());
        break;
      case RunParam::kReportPath:
      case RunParam::kStepSeasons:
      case RunParam::kSourceContracts:
      case RunParam::kCrossChecks:
      case RunParam::kAcceptedChecks:
      case RunParam::kRejectedDir: break;  // the step runner's own, for every call of the step
    }
  }
  if (!params.empty()) step.ek_params = params;
  return step;
}

bool left_out(const StepDefinition& definition, const RunArgs& run) {
  return (definition.kind == StepKind::kIngest && run.skip_ingest) || (definition.group == RunGroup::kMl && run.skip_ml) ||
         (definition.group == RunGroup::kBacktest && run.skip_backtest);
}

}  // namespace

std::vector<OfferedStep> Motor::offered_steps(const RunArgs& run) {
  std::vector<std::string> own;
  for (const std::string& kod : run.all_steps ? full_run_order() : default_run_order()) {
    if (!left_out(*find_step(kod), run)) own.push_back(kod);
  }
  std::vector<OfferedStep> steps;
  std::set<std::string> placed(own.begin(), own.end());
  // A step the run does not offer, whose outputs a reader needs and which never ended
  // "OK" in this mode, goes first (with what it needs in turn): a new working directory
  // has none of its tables. Ingest steps are not among them: ingest_ddl creates their
  // tables, and the data sources a bank maps are its own choice; nor are steps the
  // operator left out.
  const std::function<void(const StepDefinition&)> add_prerequisites = [&](const StepDefinition& reader) {
    for (const std::string& kod : reader.reads) {
      const StepDefinition& needed = *find_step(kod);
      if (placed.contains(kod) || needed.kind == StepKind::kIngest || needed.group != RunGroup::kNotOffered) continue;
      if (changes_.has_run_before(kod)) continue;
      placed.insert(kod);
      add_prerequisites(needed);
      steps.push_back(offer(needed, season_, run));
      steps.back().prerequisite_of = reader.kod;
    }
  };
  for (const std::string& kod : own) {
    add_prerequisites(*find_step(kod));
    steps.push_back(offer(*find_step(kod), season_, run));
  }
  return steps;
}

void drive_run(const std::vector<OfferedStep>& steps, const RunProgress& progress,
               const std::function<void(const OfferedStep&)>& process) {
  // A stop asked between steps takes effect before the next one starts.
  for (const OfferedStep& step : steps) {
    stop_if_signalled();
    process(step);
  }
  std::set<std::string> again;
  for (const OfferedStep& step : steps) {
    const StepDefinition* definition = find_step(step.kod);
    if (definition == nullptr || !progress.was_decided(step.kod) || again.contains(step.kod)) continue;
    if (progress.changed_since(step.kod, definition->reads).empty()) continue;
    again.insert(step.kod);
    stop_if_signalled();
    process(step);
  }
}

void Motor::print_banner() const {
  out_.line(std::string("Vordak Pipeline v") + kVersion);
  out_.line("Season: " + season_.season_adi());
  out_.line("Mode: " + season_.mode());
  if (mode_of(season_.mode()) == Mode::kTest) {
    out_.line("DB: " + season_.db_path().string());
    if (!season_.muta_filter_path().empty()) out_.line("MUTA filtre: " + season_.muta_filter_path());
  }
  if (season_.git_available()) {
    const ordered_json& git = season_.git_info();
    const auto entry = [&](const char* key) {
      const auto found = git.find(key);
      return found == git.end() ? std::string("?") : python_text(*found);
    };
    out_.line("Git: " + entry("git_commit_short") + " (" + entry("git_branch") + ")");
  }
  const std::set<std::string>& forced_set = season_.force_adimlar();
  const std::vector<std::string> forced(forced_set.begin(), forced_set.end());
  out_.line(std::string("Force: ") + (season_.force_all() ? "True" : "False") + " " + python_list_text(forced));
}

fs::path Motor::run_all(const RunArgs& run) {
  changes_.read_ahead(step_keys());  // every step's record: a decision may read any of them
  const std::vector<OfferedStep> steps = offered_steps(run);
  print_banner();
  drive_run(steps, runner_.progress(), [&](const OfferedStep& step) { runner_.adim_isle(step); });
  temizle_error_reports();
  ozet_yazdir();
  return manifest_yaz();
}

}  // namespace vordak::motor
