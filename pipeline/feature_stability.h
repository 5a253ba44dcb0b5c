#pragma once

// The stability of the champion's input features: in every period of ml_features, each
// feature's distribution over the bins fixed at training (the training window's
// deciles) compared with the training window's own, as a population stability index.

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/model_inventory.h"

namespace vordak::pipeline {

// {"referans": text, "ozellikler": [feature names], "donemler": [{"donem", "firma",
// "psi": [one per feature, rounded to 4 decimals]}]}, or {"eksik": why not} when
// ml_features or one of the champion's features is missing. One query, all features
// counted in the same pass. Throws DatabaseError for other database failures.
ordered_json feature_stability(Connection& con, const ChampionModel& champion);

}  // namespace vordak::pipeline
