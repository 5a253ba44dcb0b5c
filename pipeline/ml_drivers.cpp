#include "pipeline/ml_drivers.h"

#include <cmath>

#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

std::unordered_map<std::int64_t, ordered_json> read_ml_drivers(Connection& con) {
  std::unordered_map<std::int64_t, ordered_json> drivers;
  if (!con.has_table("ml_yi_aciklama")) return drivers;
  const Table table = con.query(
      "SELECT entity_id, ozellik, katki FROM ml_yi_aciklama "
      "WHERE entity_id IS NOT NULL AND ozellik IS NOT NULL ORDER BY entity_id, sira");
  const std::vector<std::int64_t> keys = entity_keys(table.column(0), "ml_yi_aciklama");
  const Column &feature = table.column(1), &contribution = table.column(2);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::optional<double> value = contribution.number(i);
    ordered_json& list = drivers.try_emplace(keys[i], ordered_json::array()).first->second;
    list.push_back({feature.to_json(i), value && std::isfinite(*value) ? ordered_json(*value) : ordered_json(nullptr)});
  }
  return drivers;
}

}  // namespace vordak::pipeline
