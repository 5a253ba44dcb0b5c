#include "pipeline/ranking.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

namespace vordak::pipeline {

std::optional<double> risk_key(const ordered_json& value, std::string_view member) {
  if (value.is_null()) return std::nullopt;
  if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
  if (value.is_number()) {
    const double number = value.get<double>();
    if (std::isnan(number)) return std::nullopt;
    return number;
  }
  throw std::runtime_error("\"" + std::string(member) + "\" is not a number: " + value.dump());
}

std::optional<double> risk_key(const Column& column, std::size_t row) {
  if (column.is_null(row)) return std::nullopt;
  if (column.kind() == ColumnKind::kJson) return risk_key(column.json(row), column.name());
  if (column.kind() == ColumnKind::kText) {
    throw std::runtime_error("\"" + column.name() + "\" is not a number: " + std::string(column.text(row)));
  }
  const std::optional<double> number = column.number(row);
  if (number && std::isnan(*number)) return std::nullopt;
  return number;
}

std::vector<std::size_t> order_by_risk_desc(const std::vector<std::optional<double>>& keys, NullRisk nulls) {
  std::vector<std::size_t> order(keys.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (nulls == NullRisk::kAsZero) {
    std::vector<double> values(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) values[i] = keys[i].value_or(0.0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] > values[b]; });
  } else {
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      if (!keys[a]) return false;
      if (!keys[b]) return true;
      return *keys[a] > *keys[b];
    });
  }
  return order;
}

void sort_entries_by_risk(std::vector<ordered_json>& entries, NullRisk nulls) {
  std::vector<std::optional<double>> keys;
  keys.reserve(entries.size());
  for (const ordered_json& entry : entries) {
    keys.push_back(entry.contains("son_risk") ? risk_key(entry["son_risk"]) : std::nullopt);
  }
  std::vector<ordered_json> sorted;
  sorted.reserve(entries.size());
  for (std::size_t i : order_by_risk_desc(keys, nulls)) sorted.push_back(std::move(entries[i]));
  entries = std::move(sorted);
}

}  // namespace vordak::pipeline
