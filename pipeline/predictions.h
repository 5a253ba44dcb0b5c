#pragma once

// The prediction list of the administrator dashboard: firms that the prediction runner
// scored with a high probability of reaching the "YI" state.

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// The probability from which a firm enters the prediction list.
inline constexpr double ML_PREDICTION_THRESHOLD = 0.3;

// One entry ("muta", "unvan", "segment", "son_risk", "yi_prob" rounded to 4 decimals,
// "neden") per row whose "_ml_yi_prob" is at least `prob_threshold`, ordered by
// "son_risk" descending (null as 0, stable). Rows without a probability are never
// selected. Prints "  [ML] yi_prob >= T: N firma" on `sink`. Throws std::runtime_error
// for a "son_risk" or "_ml_yi_prob" that is not a number.
ordered_json build_ml_predictions_list(const Scoreboard& scoreboard, Sink& sink,
                                       double prob_threshold = ML_PREDICTION_THRESHOLD);

}  // namespace vordak::pipeline
