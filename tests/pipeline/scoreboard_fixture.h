#pragma once

// Scoreboards built from JSON records, for the builders that work on a finished one.

#include <algorithm>
#include <string>
#include <vector>

#include "pipeline/scoreboard.h"

namespace vordak::pipeline::testing {

// Rows from JSON records: one JSON column per member seen in any record, a member
// missing from a record being an absent cell there.
inline Table rows_of(const ordered_json& records) {
  std::vector<std::string> names;
  for (const auto& record : records) {
    for (const auto& [name, value] : record.items()) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  Table rows;
  for (const std::string& name : names) {
    Column column(name, ColumnKind::kJson);
    for (const auto& record : records) {
      if (!record.contains(name)) column.push_absent();
      else if (record[name].is_null()) column.push_null();
      else column.push_json(record[name]);
    }
    rows.add_column(std::move(column));
  }
  return rows;
}

inline Scoreboard scoreboard_of(const ordered_json& periods, const ordered_json& records) {
  Scoreboard scoreboard;
  scoreboard.meta = {{"donemler", periods}, {"son_donem", periods.empty() ? ordered_json() : periods.back()}};
  scoreboard.rows = rows_of(records);
  return scoreboard;
}

inline std::string indented(const ordered_json& document) {
  return to_json_text(document, JsonWriter::Layout::kIndented);
}

}  // namespace vordak::pipeline::testing
