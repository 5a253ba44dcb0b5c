#pragma once

// One model's scores laid over the scoreboard's firms and periods, read from the table
// the pipeline keeps them in with a single query.

#include <cstdint>
#include <string_view>
#include <vector>

#include "pipeline/duckdb_connection.h"
#include "pipeline/firm_periods.h"

namespace vordak::pipeline {

// Where a model's scores are: one row per firm and period.
struct ScoreSource {
  std::string_view table;
  std::string_view firm_column;    // the firm key (muta)
  std::string_view period_column;  // 202406, "2024-06" or a date: matched by its first six digits
  std::string_view score_column;
};

// One scored cell (firm and period, FirmPeriods::cell) with its score. Packed to twelve
// bytes: a large portfolio holds tens of millions of them.
#pragma pack(push, 4)
struct ScoredCell {
  double score;
  std::uint32_t cell;
};
#pragma pack(pop)

// The scored cells in ascending order of score, then cell (firm index, then period),
// each cell once.
using ModelScores = std::vector<ScoredCell>;

// Puts scored cells in that order: the same cells give the same order, whatever order
// they came in, so that deciles split tied scores the same way on every run.
void sort_scored_cells(ModelScores& scores);

// The scores of `source` for the firms and periods of `firms`: a firm's highest score
// when a period holds several, rows of other firms or periods ignored, and non-numeric or
// non-finite scores read as none. The database matches the rows with the firms; the
// result is streamed. Throws DatabaseError.
ModelScores read_model_scores(Connection& con, const ScoreSource& source, const FirmPeriods& firms);

}  // namespace vordak::pipeline
