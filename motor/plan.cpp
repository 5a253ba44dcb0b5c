// A dry run of run_all: what each offered step would do, with nothing executed or written.

#include "motor/motor.h"

namespace vordak::motor {

std::string_view plan_verdict_text(PlanVerdict verdict) {
  switch (verdict) {
    case PlanVerdict::kRuns: return "ÇALIŞIR";
    case PlanVerdict::kSkips: return "ATLANIR";
    case PlanVerdict::kNotebookMissing: return "NB YOK";
  }
  return "";
}

std::vector<PlanRow> Motor::plan(const RunArgs& run) const {
  std::vector<PlanRow> rows;
  // Every due step is assumed to succeed and change its outputs, so that it cascades as
  // it would in the run.
  RunProgress progress;
  drive_run(offered_steps(run), progress, [&](const OfferedStep& step) {
    if (!season_.nb_path(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kNotebookMissing, "bulunamadı"});
      return;
    }
    if (season_.skip_before().contains(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kSkips, "--from " + season_.from_step().value_or("")});
      return;
    }
    const std::vector<std::string> no_dirs;
    const Decision decision =
        changes_.decide(step.kod, progress, {step.source_dirs ? &*step.source_dirs : &no_dirs, step.prerequisite_of});
    progress.decided(step.kod);
    if (decision.calistir) progress.changed(step.kod);
    rows.push_back({step.kod, decision.calistir ? PlanVerdict::kRuns : PlanVerdict::kSkips, decision.sebep});
  });
  return rows;
}

}  // namespace vordak::motor
