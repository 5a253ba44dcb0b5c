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
  // Every due step is assumed to succeed, so that it cascades as it would in the run.
  std::set<std::string> completed;
  for (const OfferedStep& step : offered_steps(run)) {
    if (!season_.nb_path(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kNotebookMissing, "bulunamadı"});
      continue;
    }
    if (season_.skip_before().contains(step.kod)) {
      rows.push_back({step.kod, PlanVerdict::kSkips, "--from " + season_.from_step().value_or("")});
      continue;
    }
    const Decision decision = changes_.decide(step.kod, completed);
    if (decision.calistir) completed.insert(step.kod);
    rows.push_back({step.kod, decision.calistir ? PlanVerdict::kRuns : PlanVerdict::kSkips, decision.sebep});
  }
  return rows;
}

}  // namespace vordak::motor
