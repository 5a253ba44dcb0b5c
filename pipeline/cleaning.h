#pragma once

// Value cleaning and score bands, shared by every mart builder. Values may be missing
// as a true null, a not-a-number, or a text that spells a null ("None", "<NA>", "nan").
// A score may be in the state "YI" (stored as that text, or as the number -1).
// All operations are pure; only the integer rules fail, with std::overflow_error, on an
// infinite (or out-of-range) value.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/table.h"

namespace vordak::pipeline {

// The edges between the score bands; every band includes its lower edge. Scores below
// kBandLowEdge are in "0-325", then "325-500" up to kBandMidEdge, "500-825" up to
// kBandHighEdge, and "825-1000" from there on, without an upper bound.
inline constexpr int kBandLowEdge = 325;
inline constexpr int kBandMidEdge = 500;
inline constexpr int kBandHighEdge = 825;

// The band labels in display order, then the state "YI". A band code (below) is an
// index into this list; texts of the labels sort in the same order.
inline constexpr std::array<std::string_view, 5> FLOW_BANDS = {"0-325", "325-500", "500-825", "825-1000", "YI"};
inline constexpr std::int8_t kNoBand = -1;
inline constexpr std::int8_t kYiBand = 4;

// 2^63: a floating-point number of this magnitude or more has no 64-bit integer part.
inline constexpr double kInt64Limit = 9223372036854775808.0;

// True when `number` is finite and its integer part fits 64 bits.
bool fits_int64(double number);

// "None", "<NA>" or "nan", exactly.
bool is_null_like(std::string_view text);

// The text form of one cell as the column rules see it (a null float cell is "nan",
// another null cell "None").
std::string cell_text_form(const Column& column, std::size_t row);

// The integer part (toward zero) of a number; std::invalid_argument for nan,
// std::overflow_error for infinity and values beyond 64 bits.
std::int64_t integer_part(double number);

// The integer part of a sum of amounts as written in the marts: null when it does not
// fit 64 bits (values that each fit may add up to more), never a wrapped number.
ordered_json whole_sum(double sum);

// Reads a number from text: surrounding white space ignored, an optional sign, digits
// with an optional point and exponent, or inf/infinity/nan in any case. nullopt when
// the text is anything else.
std::optional<double> parse_number(std::string_view text);

// The text form of a value: text as it is, integers in digits, floats as Python's repr
// (12.0, -1.0, nan, inf), booleans True/False, null None.
std::string text_form(const ordered_json& value);

// Integer part (toward zero) of a value read through its text form; null for nulls,
// null-like and empty texts, unreadable texts and nan; overflow on infinity.
std::optional<std::int64_t> safe_int(const ordered_json& val);

// Every element as a number or null, not rounded: numbers stay, numeric texts are read,
// all else is null (nan included). Integer and boolean columns give an integer column,
// float columns a float column; texts give an integer column when every read text is
// an integer literal, otherwise a float column. Same length and name as `s`.
Column safe_int_series(const Column& s);

// Each value's text form, or null for null, nan and the null-like texts (the empty text
// stays empty); the result is a text column with the same name.
Column clean_str_series(const Column& s);

// Band codes of a column of scores: kYiBand where the text form is "YI" or "-1" (so -1.0
// is a score), bands of the untruncated numbers elsewhere (infinity is the top band),
// kNoBand for null, null-like, empty and unreadable.
std::vector<std::int8_t> band_codes(const Column& series);

// Band code of an untruncated score number (nan gives kNoBand).
std::int8_t band_of_number(double score);

}  // namespace vordak::pipeline
