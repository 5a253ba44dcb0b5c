#include "pipeline/cleaning.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "core/number_text.h"
#include "core/text.h"

namespace vordak::pipeline {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when `text` (no sign, no spaces) is digits with an optional point and exponent.
bool is_decimal_literal(std::string_view text) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == text.size();
}

// An integer literal (optional sign, digits only) that fits 64 bits.
std::optional<std::int64_t> parse_integer_literal(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The integer part of a number that is not a NaN.
std::int64_t truncate_or_overflow(double number) {
  if (std::isinf(number)) throw std::overflow_error("cannot convert float infinity to integer");
  if (!fits_int64(number)) throw std::overflow_error(python_float_repr(number) + " has no 64-bit integer part");
  return static_cast<std::int64_t>(number);
}

// The text form of one cell, as the column rules see it.
std::string cell_text(const Column& column, std::size_t row) {
  if (column.is_null(row)) return column.kind() == ColumnKind::kFloat ? "nan" : "None";
  switch (column.kind()) {
    case ColumnKind::kInteger: return std::to_string(column.integer(row));
    case ColumnKind::kFloat: return python_float_repr(column.floating(row));
    case ColumnKind::kText: return std::string(column.text(row));
    case ColumnKind::kBoolean: return column.boolean(row) ? "True" : "False";
    case ColumnKind::kJson: return text_form(column.json(row));
  }
  return "None";
}

}  // namespace

bool fits_int64(double number) { return std::isfinite(number) && std::fabs(number) < kInt64Limit; }

bool is_null_like(std::string_view text) { return text == "None" || text == "<NA>" || text == "nan"; }

std::string cell_text_form(const Column& column, std::size_t row) { return cell_text(column, row); }

std::int64_t integer_part(double number) {
  if (std::isnan(number)) throw std::invalid_argument("cannot convert float NaN to integer");
  return truncate_or_overflow(number);
}

ordered_json whole_sum(double sum) {
  if (!fits_int64(sum)) return nullptr;
  return static_cast<std::int64_t>(sum);
}

std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Only the special words start with a letter; skip the case mapping for the rest.
  const bool word = !text.empty() && !is_digit(text.front()) && text.front() != '.';
  const std::string lowered = word ? to_lower(text) : std::string();
  double value = 0;
  if (word && (lowered == "inf" || lowered == "infinity")) {
    value = HUGE_VAL;
  } else if (word && lowered == "nan") {
    value = std::nan("");
  } else if (is_decimal_literal(text)) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) value = std::strtod(std::string(text).c_str(), nullptr);
    (void)end;
  } else {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::string text_form(const ordered_json& value) { return python_text(value); }

std::optional<std::int64_t> safe_int(const ordered_json& val) {
  if (val.is_null()) return std::nullopt;
  if (val.is_number_integer()) return val.get<std::int64_t>();
  const std::string text = text_form(val);
  if (text.empty() || is_null_like(text)) return std::nullopt;
  const std::optional<double> number = parse_number(text);
  if (!number || std::isnan(*number)) return std::nullopt;
  return truncate_or_overflow(*number);
}

Column safe_int_series(const Column& s) {
  const std::size_t rows = s.size();
  switch (s.kind()) {
    case ColumnKind::kInteger: return s;
    case ColumnKind::kBoolean: {
      Column result(s.name(), ColumnKind::kInteger);
      result.reserve(rows);
      for (std::size_t i = 0; i < rows; ++i) {
        if (s.is_null(i)) result.push_null();
        else result.push_integer(s.boolean(i) ? 1 : 0);
      }
      return result;
    }
    case ColumnKind::kFloat: {
      Column result = s;
      for (std::size_t i = 0; i < rows; ++i) {
        if (!s.is_null(i) && std::isnan(s.floating(i))) result.set_null(i);
      }
      return result;
    }
    case ColumnKind::kText:
    case ColumnKind::kJson: break;
  }
  // Texts and mixed values: read each one; the column stays integer while every value
  // read is an integer literal.
  std::vector<std::optional<double>> numbers(rows);
  std::vector<std::optional<std::int64_t>> integers(rows);
  bool all_integers = true;
  for (std::size_t i = 0; i < rows; ++i) {
    if (s.is_null(i)) continue;
    if (s.kind() == ColumnKind::kJson) {
      const ordered_json& value = s.json(i);
      if (value.is_number_integer() || value.is_boolean()) {
        integers[i] = value.is_boolean() ? std::int64_t{value.get<bool>()} : value.get<std::int64_t>();
        numbers[i] = static_cast<double>(*integers[i]);
        continue;
      }
      if (value.is_number_float()) {
        if (!std::isnan(value.get<double>())) numbers[i] = value.get<double>();
        all_integers = all_integers && !numbers[i];
        continue;
      }
      if (!value.is_string()) continue;
    }
    const std::string_view text = s.kind() == ColumnKind::kText ? s.text(i) : s.json(i).get_ref<const std::string&>();
    const std::optional<double> number = parse_number(text);
    if (!number || std::isnan(*number)) continue;
    numbers[i] = number;
    integers[i] = parse_integer_literal(text);
    if (!integers[i]) all_integers = false;
  }
  Column result(s.name(), all_integers ? ColumnKind::kInteger : ColumnKind::kFloat);
  result.reserve(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    if (!numbers[i]) result.push_null();
    else if (all_integers) result.push_integer(*integers[i]);
    else result.push_float(*numbers[i]);
  }
  return result;
}

Column clean_str_series(const Column& s) {
  Column result(s.name(), ColumnKind::kText);
  result.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.is_null(i) || (s.kind() == ColumnKind::kFloat && std::isnan(s.floating(i)))) {
      result.push_null();
      continue;
    }
    const std::string text = cell_text(s, i);
    if (is_null_like(text)) result.push_null();
    else result.push_text(text);
  }
  return result;
}

std::int8_t band_of_number(double score) {
  if (std::isnan(score)) return kNoBand;
  if (score >= kBandHighEdge) return 3;
  if (score >= kBandMidEdge) return 2;
  if (score >= kBandLowEdge) return 1;
  return 0;
}

std::vector<std::int8_t> band_codes(const Column& series) {
  const std::size_t rows = series.size();
  std::vector<std::int8_t> codes(rows, kNoBand);
  for (std::size_t i = 0; i < rows; ++i) {
    if (series.is_null(i)) continue;
    switch (series.kind()) {
      case ColumnKind::kInteger:
        codes[i] = series.integer(i) == -1 ? kYiBand : band_of_number(static_cast<double>(series.integer(i)));
        break;
      case ColumnKind::kBoolean: codes[i] = 0; break;
      case ColumnKind::kFloat: codes[i] = band_of_number(series.floating(i)); break;
      case ColumnKind::kText:
      case ColumnKind::kJson: {
        const bool is_text = series.kind() == ColumnKind::kText || series.json(i).is_string();
        if (!is_text) {
          const ordered_json& value = series.json(i);
          if (value.is_number_integer() && value.get<std::int64_t>() == -1) codes[i] = kYiBand;
          else if (value.is_number()) codes[i] = band_of_number(value.get<double>());
          else if (value.is_boolean()) codes[i] = 0;
          break;
        }
        const std::string_view text =
            series.kind() == ColumnKind::kText ? series.text(i) : series.json(i).get_ref<const std::string&>();
        if (text == "YI" || text == "-1") {
          codes[i] = kYiBand;
        } else if (!text.empty() && !is_null_like(text)) {
          if (const std::optional<double> number = parse_number(text)) codes[i] = band_of_number(*number);
        }
        break;
      }
    }
  }
  return codes;
}

}  // namespace vordak::pipeline
