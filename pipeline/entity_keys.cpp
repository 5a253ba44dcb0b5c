#include "pipeline/entity_keys.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

[[noreturn]] void refuse(const Column& column, std::size_t row, const char* table) {
  const std::string shown = column.is_null(row) ? "NULL" : text_form(column.to_json(row));
  throw std::runtime_error(std::string(table) + "." + column.name() + " holds a value that is not an integer: " +
                           shown);
}

std::optional<std::int64_t> integer_text(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::int64_t> entity_keys(const Column& column, const char* table) {
  std::vector<std::int64_t> keys(column.size());
  for (std::size_t row = 0; row < column.size(); ++row) {
    if (column.is_null(row)) refuse(column, row, table);
    switch (column.kind()) {
      case ColumnKind::kInteger: keys[row] = column.integer(row); break;
      case ColumnKind::kFloat: {
        const double value = column.floating(row);
        if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) >= 9.2e18) {
          refuse(column, row, table);
        }
        keys[row] = static_cast<std::int64_t>(value);
        break;
      }
      case ColumnKind::kText: {
        const std::optional<std::int64_t> value = integer_text(column.text(row));
        if (!value) refuse(column, row, table);
        keys[row] = *value;
        break;
      }
      case ColumnKind::kBoolean:
      case ColumnKind::kJson: {
        const ordered_json value = column.to_json(row);
        if (!value.is_number_integer()) refuse(column, row, table);
        keys[row] = value.get<std::int64_t>();
        break;
      }
    }
  }
  return keys;
}

}  // namespace vordak::pipeline
