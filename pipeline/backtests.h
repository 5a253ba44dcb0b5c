#pragma once

// Backtest results of the models "eus", "yis" and "ml", shaped for the administrator
// dashboard: per-model totals and averages, and the firms behind the true positives,
// false positives and false negatives.

#include <array>
#include <string_view>

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

inline constexpr std::array<std::string_view, 3> BACKTEST_MODELS = {"eus", "yis", "ml"};

// {"eus": ..., "yis": ..., "ml": ...} from the tables backtest_<model>: for "ml" the
// folds ("fold_detay", "toplam_fold", mean auc/precision/recall/f1), for the others the
// periods with summed tp/fp/fn/tn and mean precision/recall/f1; then, for both, the
// pooled "havuz_precision" and "havuz_recall" (sum tp / (sum tp + sum fp), sum tp /
// (sum tp + sum fn); null without the counts). Means and pooled figures are rounded to 4
// decimals (null when the column is missing), sums are integers (0 when missing). A
// missing or empty table gives null; any other failure of a model is printed and gives
// null too. Never fails to the caller; prints a closing line on `sink`.
ordered_json build_backtest_summary(Connection& con, Sink& sink);

// {"eus": ..., "yis": ..., "ml": ...} from the tables backtest_<model>_firma: the rows
// of kategori TP, FP and FN as "tp", "fp", "fn" lists, or null (missing or empty table,
// no such rows, or a failure, which is printed). Never fails to the caller; prints one
// count line per model that has lists on `sink`.
ordered_json build_backtest_firma_lists(Connection& con, Sink& sink);

}  // namespace vordak::pipeline
