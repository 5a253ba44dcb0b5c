#pragma once

// Orderings by current risk ("son_risk") shared by the watch lists, the prediction list
// and the manager selection. Every ordering is stable: equal keys keep their input order.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/table.h"

namespace vordak::pipeline {

// A risk value as a sort key: nullopt for null; numbers and booleans as numbers.
// Throws std::runtime_error naming `member` for a value that cannot be compared (a
// text, a container).
std::optional<double> risk_key(const ordered_json& value, std::string_view member = "son_risk");
// The same over one cell of a column (null and absent cells give nullopt).
std::optional<double> risk_key(const Column& column, std::size_t row);

enum class NullRisk {
  kLast,    // null keys go after every number
  kAsZero,  // null keys rank as 0
};

// Positions 0..n-1 ordered by key, descending, stable.
std::vector<std::size_t> order_by_risk_desc(const std::vector<std::optional<double>>& keys, NullRisk nulls);

// Reorders `entries` (JSON records) by their member "son_risk", descending, stable.
void sort_entries_by_risk(std::vector<ordered_json>& entries, NullRisk nulls);

}  // namespace vordak::pipeline
