#pragma once

// The model inventory as the ml_train step lists it in ml_model_envanter (one row per
// model kept under ml_models/<id>/, with its role: "sampiyon", "rakip" or "arsiv"), and
// the champion's comparison with the challenger trained beside it: DeLong's paired test
// of their AUCs on the validation period's predictions (ml_model_dogrulama).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// The training window's distribution of one ML feature: bins [edges[k-1], edges[k]).
struct FeatureReference {
  std::string name;
  std::vector<double> edges;
  std::vector<std::size_t> counts;
};

// What the measures need of the champion: its probability bands (inner edges, fixed at
// training from the training window's quantiles of its predictions), the training
// window's count per band and per feature bin (the stability reference), and its AUC on
// the validation period (the reference of the AUC test).
struct ChampionModel {
  std::string id;
  std::string training_window;  // "2023-01 – 2023-06"
  std::vector<double> band_edges;
  std::vector<std::size_t> reference_bands;
  std::string validation_period;  // the period validation_auc was measured on
  std::optional<double> validation_auc;
  std::vector<FeatureReference> features;
};

struct ModelInventory {
  // For the page: {"modeller": [...], "sampiyon": id or null, "karsilastirma": {...} or
  // null}, or {"eksik": why there is none}.
  ordered_json page;
  std::optional<ChampionModel> champion;
};

// Reads the inventory. A missing table gives "eksik"; a row whose description cannot
// be read leaves the champion out and says why in "eksik". Database failures other
// than a missing table are thrown as DatabaseError.
ModelInventory read_model_inventory(Connection& con);

}  // namespace vordak::pipeline
