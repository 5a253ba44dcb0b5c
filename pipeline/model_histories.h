#pragma once

// Every firm's history of the scores the models give (the EUS score, the YIS and ML
// probabilities of MODEL_SCORES), period by period, for the firm panel of the pages.

#include <cstddef>
#include <string>
#include <vector>

#include "pipeline/duckdb_connection.h"
#include "pipeline/model_measures.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

struct ModelHistory {
  const MeasuredModel* model = nullptr;
  // Row r's score in period p (of the scoreboard's periods) at r * periods + p; NaN
  // where the model gave none. Kept in single precision: the page shows at most four
  // significant decimals of it.
  std::vector<float> values;
};

// The history of every model of MODEL_SCORES whose table and columns are in the
// database, matched to the scoreboard's rows by firm key ("muta" as an integer) and to
// its periods by year and month (the first six digits of each label); the highest score
// where a firm has several in a period. Throws DatabaseError when a query fails.
std::vector<ModelHistory> read_model_histories(Connection& con, const Scoreboard& scoreboard);

}  // namespace vordak::pipeline
