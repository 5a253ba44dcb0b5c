#include "pipeline/feature_stability.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/model_metrics.h"

namespace vordak::pipeline {

namespace {

// The bin of a feature's value as SQL: how many of the bin edges it has reached, -1 for
// a missing value.
std::string bin_sql(const FeatureReference& feature) {
  const std::string column = sql_identifier(feature.name);
  std::string sql = "coalesce(0";
  for (double edge : feature.edges) sql += " + (" + column + " >= " + python_float_repr(edge) + ")::INTEGER";
  return sql + ", -1)";
}

}  // namespace

ordered_json feature_stability(Connection& con, const ChampionModel& champion) {
  if (champion.features.empty()) return {{"eksik", "Şampiyon modelin özellik referansı yok."}};
  if (!con.has_table("ml_features")) return {{"eksik", "ML özellikleri yok (ml_features adımı)."}};
  const std::vector<std::string> columns = con.describe_columns("ml_features");
  std::string bins, sets;
  for (std::size_t k = 0; k < champion.features.size(); ++k) {
    const FeatureReference& feature = champion.features[k];
    if (std::find(columns.begin(), columns.end(), feature.name) == columns.end()) {
      return {{"eksik", "ML özelliklerinde " + feature.name + " yok."}};
    }
    bins += ", " + bin_sql(feature) + " AS b" + std::to_string(k);
    sets += std::string(k ? ", " : "") + "(donem, b" + std::to_string(k) + ")";
  }
  std::string picked;
  for (std::size_t k = 0; k < champion.features.size(); ++k) picked += ", b" + std::to_string(k);
  // One grouping set per feature: in the rows of set k, only b<k> is not null.
  const Table rows = con.query("SELECT CAST(donem AS VARCHAR)" + picked + ", count(*) FROM (SELECT donem" + bins +
                               " FROM ml_features) GROUP BY GROUPING SETS (" + sets + ")");
  const std::size_t features = champion.features.size();
  std::map<std::string, std::vector<std::vector<std::size_t>>> counts;  // period -> feature -> bin
  for (std::size_t i = 0; i < rows.num_rows(); ++i) {
    if (rows.column(0).is_null(i)) continue;
    auto& period = counts[std::string(rows.column(0).text(i))];
    if (period.empty()) {
      for (const FeatureReference& feature : champion.features) period.emplace_back(feature.edges.size() + 1, 0);
    }
    for (std::size_t k = 0; k < features; ++k) {
      const Column& bin = rows.column(1 + k);
      if (bin.is_null(i) || bin.integer(i) < 0) continue;
      period[k][static_cast<std::size_t>(bin.integer(i))] += static_cast<std::size_t>(rows.column(1 + features).integer(i));
    }
  }
  ordered_json names = ordered_json::array(), periods = ordered_json::array();
  for (const FeatureReference& feature : champion.features) names.push_back(feature.name);
  for (const auto& [period, by_feature] : counts) {
    ordered_json psi = ordered_json::array();
    std::size_t firms = 0;
    for (std::size_t n : by_feature.front()) firms += n;
    for (std::size_t k = 0; k < features; ++k) {
      const std::optional<double> value = population_stability(champion.features[k].counts, by_feature[k]);
      psi.push_back(value ? ordered_json(round_half_even(*value, 4)) : ordered_json(nullptr));
    }
    periods.push_back({{"donem", period}, {"firma", firms}, {"psi", std::move(psi)}});
  }
  return {{"referans", "Şampiyon modelin (" + champion.id + ") eğitim penceresi, " + champion.training_window +
                           "; bölmeler o penceredeki ondalık dilimlerdir."},
          {"ozellikler", std::move(names)},
          {"donemler", std::move(periods)}};
}

}  // namespace vordak::pipeline
