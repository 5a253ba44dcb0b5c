#include "pipeline/ml_drivers.h"

#include <cmath>

#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

std::unordered_map<std::int64_t, std::string> read_ml_drivers(Connection& con) {
  std::unordered_map<std::int64_t, std::string> drivers;
  if (!con.has_table("ml_yi_aciklama")) return drivers;
  const Table table = con.query(
      "SELECT entity_id, ozellik, katki FROM ml_yi_aciklama "
      "WHERE entity_id IS NOT NULL AND ozellik IS NOT NULL ORDER BY entity_id, sira");
  const std::vector<std::int64_t> keys = entity_keys(table.column(0), "ml_yi_aciklama");
  const Column &feature = table.column(1), &contribution = table.column(2);
  // The rows come firm by firm: each firm's list is written in one go.
  for (std::size_t begin = 0, end; begin < keys.size(); begin = end) {
    std::string text;
    JsonWriter writer(text, JsonWriter::Layout::kCompact);
    writer.begin_array();
    for (end = begin; end < keys.size() && keys[end] == keys[begin]; ++end) {
      const std::optional<double> value = contribution.number(end);
      writer.begin_array();
      writer.value(feature.to_json(end));
      if (value && std::isfinite(*value)) writer.number(*value);
      else writer.null();
      writer.end_array();
    }
    writer.end_array();
    const auto [known, added] = drivers.try_emplace(keys[begin], std::move(text));
    // Ids of one key that sort apart ("7", "+7"): the later rows join the list.
    if (!added) known->second.replace(known->second.size() - 1, 1, "," + text.substr(1));
  }
  return drivers;
}

}  // namespace vordak::pipeline
