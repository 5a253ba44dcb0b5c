#include "pipeline/predictions.h"

#include <string>
#include <vector>

#include "core/number_text.h"
#include "core/sink.h"
#include "pipeline/ranking.h"

namespace vordak::pipeline {

namespace {

ordered_json member_or_null(const Column* column, std::size_t row) {
  return column == nullptr ? ordered_json(nullptr) : column->to_json(row);
}

}  // namespace

ordered_json build_ml_predictions_list(const Scoreboard& scoreboard, Sink& sink, double prob_threshold) {
  const Table& rows = scoreboard.rows;
  std::vector<ordered_json> entries;
  if (const Column* probability = rows.find("_ml_yi_prob")) {
    const Column* muta = rows.find("muta");
    const Column* unvan = rows.find("unvan");
    const Column* segment = rows.find("segment");
    const Column* son_risk = rows.find("son_risk");
    const Column* neden = rows.find("_vrd_neden");
    for (std::size_t i = 0; i < rows.num_rows(); ++i) {
      const std::optional<double> prob = risk_key(*probability, i);
      if (!prob || *prob < prob_threshold) continue;
      ordered_json entry = ordered_json::object();
      entry["muta"] = member_or_null(muta, i);
      entry["unvan"] = member_or_null(unvan, i);
      entry["segment"] = member_or_null(segment, i);
      entry["son_risk"] = member_or_null(son_risk, i);
      entry["yi_prob"] = round_half_even(*prob, 4);
      entry["neden"] = neden == nullptr || neden->cell(i) == Cell::kAbsent ? ordered_json("") : neden->to_json(i);
      entries.push_back(std::move(entry));
    }
  }
  sort_entries_by_risk(entries, NullRisk::kAsZero);
  sink.line("  [ML] yi_prob >= " + python_float_repr(prob_threshold) + ": " + std::to_string(entries.size()) + " firma");
  ordered_json list = ordered_json::array();
  for (ordered_json& entry : entries) list.push_back(std::move(entry));
  return list;
}

}  // namespace vordak::pipeline
