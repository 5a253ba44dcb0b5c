// A dry run of run_all: what each offered step would do, with nothing executed or written.

#include "motor/motor.h"

namespace vordak::motor {

std::vector<PlanSatiri> Motor::plan(bool skip_ingest, bool skip_backtest, bool skip_ml,
                                    const std::optional<std::vector<std::string>>& referans_tarih_list,
                                    std::int64_t test_muta_count) const {
  std::vector<PlanSatiri> rows;
  // Every due step is assumed to succeed, so that it cascades as it would in the run.
  std::set<std::string> completed;
  for (const OfferedStep& step : offered_steps(skip_ingest, skip_backtest, skip_ml, referans_tarih_list, test_muta_count)) {
    if (!_nb_path(step.kod)) {
      rows.push_back({step.kod, "NB YOK", "bulunamadı"});
      continue;
    }
    if (_skip_before.contains(step.kod)) {
      rows.push_back({step.kod, "ATLANIR", "--from " + from_step.value_or("")});
      continue;
    }
    const auto [calistir, sebep] = due_decision(step.kod, completed);
    if (calistir) completed.insert(step.kod);
    rows.push_back({step.kod, calistir ? "ÇALIŞIR" : "ATLANIR", sebep});
  }
  return rows;
}

}  // namespace vordak::motor
