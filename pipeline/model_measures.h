#pragma once

// The model measures of the administrator edition, for each score the pipeline keeps (the
// EUS score, the YIS probability and the walk-forward ML probability). One event
// definition throughout (firm_periods.h): a firm counts for period t when its state is
// known and not "YI" at t and known at t+1; the event is "YI" at t+1. Per period:
// AUC with DeLong's 95 % interval and a test against the reference AUC, Gini, the band
// distribution's PSI against a reference sample and its Herfindahl concentration, and
// for probabilities the Brier score, Hosmer-Lemeshow and a Jeffreys test per band. Then
// migration between bands, calibration deciles, and the backtest figures pooled over the
// periods: at the next period, at horizons of 3, 6 and 12 months, and per segment. Read
// from the tables the pipeline's notebooks write; for the page only (never written to
// the JSON outputs).

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/model_inventory.h"
#include "pipeline/model_samples.h"
#include "pipeline/model_scores.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

enum class ScoreScale {
  kScore,        // 0 to 1000, banded like the early-warning score
  kProbability,  // 0 to 1, banded by PROBABILITY_BAND_EDGES or, for ML, the champion's bands
};

struct MeasuredModel {
  std::string_view key;     // "eus"
  std::string_view label;   // "EUS"
  std::string_view source;  // where the scores come from, in the operator's words
  std::string_view step;    // the step that writes the table
  ScoreSource scores;
  ScoreScale scale;
};

inline constexpr std::array<MeasuredModel, 3> MODEL_SCORES = {{
    {"eus", "EUS", "EUS tahminleri (EUS skoru)", "ingest_eus", {"raw_eus", "muta_no", "donem", "eus_skor"},
     ScoreScale::kScore},
    {"yis", "YIS", "YIS tahminleri (YI olasılığı)", "ingest_yis", {"raw_yis", "muta_no", "donem", "yis_olasilik"},
     ScoreScale::kProbability},
    {"ml", "ML", "ML walk-forward backtest tahminleri (YI olasılığı)", "backtest_ml",
     {"backtest_ml_tahmin", "entity_id", "donem", "yi_prob"}, ScoreScale::kProbability},
}};

// Inner edges of the fixed probability bands: [0, 5%), [5%, 10%), [10%, 30%), [30%, 50%),
// [50%, 100%]. 30% is the prediction list's threshold, 50% the backtests' alarm.
inline constexpr std::array<double, 4> PROBABILITY_BAND_EDGES = {0.05, 0.10, 0.30, 0.50};

// A measure resting on fewer events than this is shown greyed out with its count.
inline constexpr std::size_t MIN_EVENTS = 20;

// The bands of a scale: the score bands, or probability bands with these inner edges.
BandScale band_scale(ScoreScale scale, const std::vector<double>& probability_edges = {});

// The measures of every model of MODEL_SCORES over the scoreboard's firms and periods, as
// a JSON list, one entry per model: "model", "ad", "kaynak", then either "eksik" (why
// there is nothing) or the measures (see model_measures.cpp for the members). The ML
// model is banded and referenced by the inventory's champion when there is one. Each
// model's alarm threshold comes from backtest_esikler(model, esik) when the backtests
// left one. A table that cannot be read throws DatabaseError naming it.
ordered_json build_model_measures(Connection& con, const Scoreboard& scoreboard, const ModelInventory& inventory,
                                  Sink& sink);

}  // namespace vordak::pipeline
