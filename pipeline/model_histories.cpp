#include "pipeline/model_histories.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace vordak::pipeline {

namespace {

// The year and month of a period label ("2024-06", 202406, "2024-06-30") as a number.
std::int64_t year_month_of(std::string_view label) {
  std::int64_t value = 0;
  int digits = 0;
  for (const char c : label) {
    if (c < '0' || c > '9' || digits == 6) continue;
    value = value * 10 + (c - '0');
    ++digits;
  }
  return value;
}

bool has_columns(Connection& con, const ScoreSource& source) {
  if (!con.has_table(std::string(source.table))) return false;
  const std::vector<std::string> columns = con.describe_columns(std::string(source.table));
  for (const std::string_view name : {source.firm_column, source.period_column, source.score_column}) {
    if (std::find(columns.begin(), columns.end(), name) == columns.end()) return false;
  }
  return true;
}

}  // namespace

std::vector<ModelHistory> read_model_histories(Connection& con, const Scoreboard& scoreboard) {
  std::vector<ModelHistory> histories;
  const Table& rows = scoreboard.rows;
  const std::vector<std::string> labels = period_labels(scoreboard.meta);
  const Column* muta = rows.find("muta");
  if (rows.empty() || labels.empty() || muta == nullptr) return histories;

  std::unordered_map<std::int64_t, std::size_t> row_of;
  row_of.reserve(rows.num_rows());
  for (std::size_t r = 0; r < rows.num_rows(); ++r) {
    const std::optional<double> key = muta->number(r);
    if (key && std::isfinite(*key) && *key == std::trunc(*key)) row_of.emplace(static_cast<std::int64_t>(*key), r);
  }
  std::unordered_map<std::int64_t, std::size_t> period_of;
  std::vector<std::int64_t> year_months;
  for (std::size_t p = 0; p < labels.size(); ++p) {
    const std::int64_t ym = year_month_of(labels[p]);
    if (period_of.emplace(ym, p).second) year_months.push_back(ym);
  }

  for (const MeasuredModel& model : MODEL_SCORES) {
    const ScoreSource& source = model.scores;
    if (!has_columns(con, source)) continue;
    ModelHistory history{&model, std::vector<float>(rows.num_rows() * labels.size(), std::numeric_limits<float>::quiet_NaN())};
    const std::string period_digits =
        "TRY_CAST(left(regexp_replace(CAST(" + std::string(source.period_column) + " AS VARCHAR), '[^0-9]', '', 'g'), 6) AS BIGINT)";
    const std::string sql = "SELECT k, ym, max(v) FROM (SELECT TRY_CAST(" + std::string(source.firm_column) +
                            " AS BIGINT) AS k, " + period_digits + " AS ym, TRY_CAST(" + std::string(source.score_column) +
                            " AS DOUBLE) AS v FROM " + std::string(source.table) +
                            ") WHERE k IS NOT NULL AND v IS NOT NULL AND ym = ANY($1) GROUP BY k, ym";
    con.for_each_chunk(sql, year_months, [&](const Table& chunk) {
      const Column &firm = chunk.column(0), &ym = chunk.column(1), &value = chunk.column(2);
      for (std::size_t i = 0; i < chunk.num_rows(); ++i) {
        const auto row = row_of.find(firm.integer(i));
        const auto period = period_of.find(ym.integer(i));
        const std::optional<double> score = value.number(i);
        if (row == row_of.end() || period == period_of.end() || !score || !std::isfinite(*score)) continue;
        history.values[row->second * labels.size() + period->second] = static_cast<float>(*score);
      }
    });
    histories.push_back(std::move(history));
  }
  return histories;
}

}  // namespace vordak::pipeline
