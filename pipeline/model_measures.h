#pragma once

// The model measures of the administrator edition: for each score the pipeline keeps
// (the EUS score, the YIS probability and the walk-forward ML probability) and each
// period, its discriminatory power against "YI" in the next period, the stability of its
// band distribution, the migration between its bands, and for probabilities their
// calibration. Read from the tables the pipeline's notebooks write; for the page only
// (never written to the JSON outputs).

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

enum class ScoreScale {
  kScore,        // 0 to 1000, banded like the early-warning score
  kProbability,  // 0 to 1, banded by PROBABILITY_BAND_EDGES
};

// Where a model's scores are: one row per firm and period.
struct ScoreSource {
  std::string_view key;            // "eus"
  std::string_view label;          // shown on the page
  std::string_view table;
  std::string_view firm_column;    // the firm key (muta)
  std::string_view period_column;  // 202406, "2024-06" or a date: compared by its digits
  std::string_view score_column;
  ScoreScale scale;
};

inline constexpr std::array<ScoreSource, 3> MODEL_SCORES = {{
    {"eus", "EUS", "raw_eus", "muta_no", "donem", "eus_skor", ScoreScale::kScore},
    {"yis", "YIS", "raw_yis", "muta_no", "donem", "yis_olasilik", ScoreScale::kProbability},
    {"ml", "ML", "backtest_ml_tahmin", "entity_id", "donem", "yi_prob", ScoreScale::kProbability},
}};

// Inner edges of the probability bands: [0, 5%), [5%, 10%), [10%, 30%), [30%, 50%),
// [50%, 100%]. 30% is the prediction list's threshold, 50% the backtests' alarm.
inline constexpr std::array<double, 4> PROBABILITY_BAND_EDGES = {0.05, 0.10, 0.30, 0.50};

// The measures of every model of MODEL_SCORES over `periods` (the scoreboard's period
// labels, oldest first), as a JSON list, one entry per model:
//   "model", "ad", "kaynak" (table.column), then either "eksik" (why there is nothing:
//   a missing table or column, or the database's message) or
//   "olcek" ("skor" or "olasilik"), "bantlar" (band labels, best first, "YI" last),
//   "donemler": per period with scores {"donem", "skorlu" (firms scored and not in YI),
//     "dagilim" (their count per band, "YI" excluded), "psi" (against the previous
//     period, or null), "n" and "yi" (scored firms whose next period is known, and how
//     many of them reached YI), "auc", "gini" (null without both outcomes)},
//   "gecisler": per pair of consecutive scored periods {"from", "to", "sayilar",
//     "oranlar" (row-normalised), "risk_tl" (exposure in "to"), "kotulesen",
//     "kotulesen_risk_tl", "iyilesen", "iyilesen_risk_tl", "ayni"},
//   "kalibrasyon" (probabilities only): {"tum_donemler": deciles of all periods
//     pooled, "donemler": [{"donem", "dilimler"}]}, a decile being {"firma", "yi",
//     "ort_olasilik", "gozlenen_oran"}.
// A firm's state ("YI" or not) and exposure come from fact_periodic. Ratios are rounded
// to 4 decimals, exposures truncated to whole TL. Never fails to the caller and prints
// nothing: a model's failure becomes its "eksik" text.
ordered_json build_model_measures(Connection& con, const std::vector<std::string>& periods);

// The band labels of a scale, best first, without "YI".
std::vector<std::string> score_band_labels(ScoreScale scale);

// The band index of a score on its scale (0 = best).
std::size_t score_band(ScoreScale scale, double score);

}  // namespace vordak::pipeline
