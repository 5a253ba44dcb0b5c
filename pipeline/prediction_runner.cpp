#include "pipeline/prediction_runner.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

namespace {

constexpr const char* kTable = "ml_yi_tahmin";

}  // namespace

std::string run_predictions(Connection& con, Scoreboard& scoreboard) {
  std::unordered_map<std::int64_t, double> probability;
  std::string model;
  {
    if (!con.has_table(kTable)) {
      throw PredictionsUnavailable(std::string("no predictions table ") + kTable + " in " + con.path());
    }
    const Table table = con.query(std::string("SELECT entity_id, yi_prob FROM ") + kTable + " WHERE yi_prob IS NOT NULL");
    const std::vector<std::int64_t> keys = entity_keys(table.column(0), kTable);
    const Column& yi_prob = table.column(1);
    probability.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::optional<double> value = yi_prob.number(i);
      if (value && !std::isnan(*value)) probability.try_emplace(keys[i], *value);
    }
    const std::vector<std::string> columns = con.describe_columns(kTable);
    if (std::find(columns.begin(), columns.end(), "model_id") != columns.end()) {
      const Table models =
          con.query(std::string("SELECT DISTINCT CAST(model_id AS VARCHAR) FROM ") + kTable + " WHERE model_id IS NOT NULL ORDER BY 1");
      for (std::size_t i = 0; i < models.num_rows(); ++i) model += (i ? ", " : "") + std::string(models.column(0).text(i));
    }
  }

  Table& rows = scoreboard.rows;
  const Column* muta = rows.find("muta");
  Column column("_ml_yi_prob", ColumnKind::kFloat);
  column.reserve(rows.num_rows());
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    const std::optional<std::int64_t> key = muta == nullptr ? std::nullopt : entity_key(*muta, row);
    const auto found = key ? probability.find(*key) : probability.end();
    if (found == probability.end()) column.push_absent();
    else column.push_float(found->second);
  }
  rows.set_column(std::move(column));
  return model;
}

}  // namespace vordak::pipeline
