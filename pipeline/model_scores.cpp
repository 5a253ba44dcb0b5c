#include "pipeline/model_scores.h"

#include <algorithm>
#include <boost/sort/spreadsort/float_sort.hpp>
#include <optional>
#include <utility>

#include "pipeline/cleaning.h"
#include "pipeline/firm_periods.h"

namespace vordak::pipeline {

namespace {

// "VALUES (stored value, period index), ..." for the distinct period values of the
// table that match a scoreboard period, and how the table's column compares with them:
// natively for integers and texts, by its text form otherwise.
std::pair<std::string, std::string> period_match(Connection& con, const ScoreSource& source,
                                                 const FirmPeriods& firms) {
  const std::string column(source.period_column);
  const Table values = con.query("SELECT DISTINCT " + column + " FROM " + std::string(source.table) + " WHERE " +
                                 column + " IS NOT NULL");
  const Column& value = values.column(0);
  const bool native = value.kind() == ColumnKind::kInteger || value.kind() == ColumnKind::kText;
  std::string rows;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::string text = text_form(value.to_json(i));
    const std::optional<int> month = label_month(text);
    for (std::size_t p = 0; month && p < firms.periods.size(); ++p) {
      if (label_month(firms.periods[p]) != month) continue;
      rows += (rows.empty() ? "" : ", ") + std::string("(") +
              (value.kind() == ColumnKind::kInteger ? text : sql_literal(text)) + ", " + std::to_string(p) + ")";
      break;
    }
  }
  return {rows, native ? "s." + column : "CAST(s." + column + " AS VARCHAR)"};
}

// The radix key of a scored cell: its score's bits, as spreadsort orders doubles.
struct ScoreBits {
  std::int64_t operator()(const ScoredCell& scored, unsigned offset) const {
    const double score = scored.score;
    return boost::sort::spreadsort::float_mem_cast<double, std::int64_t>(score) >> offset;
  }
};

bool ascending(const ScoredCell& a, const ScoredCell& b) {
  const double x = a.score, y = b.score;
  return x < y || (x == y && a.cell < b.cell);
}

}  // namespace

// Sorted here rather than by the database: a radix sort (Boost's spreadsort) takes a
// fraction of an ORDER BY's time on millions of rows. It leaves a large run of equal
// scores in the order they came, which the database's threads decide; so such runs are
// put in cell order after it.
void sort_scored_cells(std::vector<ScoredCell>& scores) {
  boost::sort::spreadsort::float_sort(scores.begin(), scores.end(), ScoreBits(), ascending);
  for (auto run = scores.begin(); run != scores.end();) {
    const double score = run->score;
    const auto end = std::find_if(run, scores.end(), [score](const ScoredCell& next) { return next.score != score; });
    if (end - run > 1) std::sort(run, end, ascending);
    run = end;
  }
}

ModelScores read_model_scores(Connection& con, const ScoreSource& source, const FirmPeriods& firms) {
  ModelScores scores;
  const auto [periods, compared] = period_match(con, source, firms);
  if (periods.empty() || firms.keys.empty()) return scores;
  // The firms' keys by firm index, as a table the database can size (it then builds its
  // join on the firms rather than on the scores).
  con.query("CREATE OR REPLACE TEMP TABLE vrd_firma_sirasi AS SELECT unnest($1) AS firma, unnest(range(len($1))) AS i",
            firms.keys);
  const std::string sql =
      "SELECT f.i * " + std::to_string(firms.periods.size()) + " + d.sira AS hucre, TRY_CAST(s." +
      std::string(source.score_column) + " AS DOUBLE) AS skor FROM " + std::string(source.table) +
      " s JOIN (VALUES " + periods + ") d(deger, sira) ON " + compared +
      " = d.deger JOIN vrd_firma_sirasi f ON f.firma = TRY_CAST(s." +
      std::string(source.firm_column) + " AS BIGINT) WHERE isfinite(skor)";
  scores.reserve(firms.states.size());
  con.for_each_chunk(sql, [&](const Table& chunk) {
    const Column &cell = chunk.column(0), &score = chunk.column(1);
    for (std::size_t i = 0; i < chunk.num_rows(); ++i) {
      scores.push_back({score.floating(i), static_cast<std::uint32_t>(cell.integer(i))});
    }
  });
  sort_scored_cells(scores);
  // A cell read twice keeps its highest score, which comes last in ascending order.
  std::vector<bool> taken(firms.states.size(), false);
  std::size_t kept = scores.size();
  for (std::size_t i = scores.size(); i-- > 0;) {
    if (taken[scores[i].cell]) continue;
    taken[scores[i].cell] = true;
    scores[--kept] = scores[i];
  }
  scores.erase(scores.begin(), scores.begin() + static_cast<std::ptrdiff_t>(kept));
  con.execute("DROP TABLE vrd_firma_sirasi");
  return scores;
}

}  // namespace vordak::pipeline
