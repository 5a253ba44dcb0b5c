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

std::vector<PlanRow> Motor::plan(const RunArgs& run) {
  std::vector<PlanRow> rows;
  // Every due step is assumed to succeed and change its outputs, so that it cascades as
  // it would in the run.
  RunProgress progress;
  drive_run(offered_steps(run), progress, [&](const OfferedStep& step) {
    if (!season_.nb_path(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kNotebookMissing, "bulunamadı"});
      return;
    }
    if (const std::optional<std::string> sebep = season_.before_start(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kSkips, *sebep});
      return;
    }
    const Decision decision = changes_.decide_offered(step, progress);
    if (decision.calistir) progress.changed(step.kod);
    rows.push_back({step.kod, decision.calistir ? PlanVerdict::kRuns : PlanVerdict::kSkips, decision.sebep});
  });
  return rows;
}

}  // namespace vordak::motor
