#pragma once

// The prediction runner: copies the probabilities that the ml_predict notebook stored in
// ml_yi_tahmin(entity_id BIGINT, yi_prob DOUBLE, model_id VARCHAR) onto the scoreboard
// rows, and names the model that gave them.

#include <stdexcept>
#include <string>

#include "pipeline/duckdb_connection.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// The predictions cannot be had at all (no predictions table): the mart run skips them.
class PredictionsUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sets "_ml_yi_prob" on every row whose "muta" has a prediction (the first non-null one
// when a firm has several) and leaves the member out of the other rows. Returns the
// model id of the predictions (several joined with ", "; empty when the table has no
// model_id column, as tables of earlier versions), read through `con`.
// Throws PredictionsUnavailable when the table is missing, DatabaseError for other
// database failures and std::runtime_error for an entity_id that is not an integer; on
// any failure the scoreboard is left exactly as it was.
std::string run_predictions(Connection& con, Scoreboard& scoreboard);

}  // namespace vordak::pipeline
