#include "pipeline/entity_keys.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

std::optional<std::int64_t> integer_text(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> whole_number(double value) {
  if (!fits_int64(value) || value != std::trunc(value)) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> json_key(const ordered_json& value) {
  if (value.is_number_integer()) {
    // An unsigned value beyond the signed range is no key.
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > kMax) return std::nullopt;
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) return whole_number(value.get<double>());
  if (value.is_string()) return integer_text(value.get_ref<const std::string&>());
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> entity_key(const Column& column, std::size_t row) {
  if (column.is_null(row)) return std::nullopt;
  switch (column.kind()) {
    case ColumnKind::kInteger: return column.integer(row);
    case ColumnKind::kFloat: return whole_number(column.floating(row));
    case ColumnKind::kText: return integer_text(column.text(row));
    case ColumnKind::kBoolean: return std::nullopt;
    case ColumnKind::kJson: return json_key(column.json(row));
  }
  return std::nullopt;
}

std::vector<std::int64_t> entity_keys(const Column& column, const char* table) {
  std::vector<std::int64_t> keys(column.size());
  for (std::size_t row = 0; row < column.size(); ++row) {
    const std::optional<std::int64_t> key = entity_key(column, row);
    if (!key) {
      const std::string shown = column.is_null(row) ? "NULL" : text_form(column.to_json(row));
      throw std::runtime_error(std::string(table) + "." + column.name() +
                               " holds a value that is not an integer: " + shown);
    }
    keys[row] = *key;
  }
  return keys;
}

}  // namespace vordak::pipeline
