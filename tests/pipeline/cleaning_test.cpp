#include "pipeline/cleaning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vordak::pipeline {
namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::nan("");

TEST(SafeInt, TruncatesReadableValuesAndNullsTheRest) {
  const std::vector<std::pair<ordered_json, ordered_json>> cases = {
      {"12.9", 12}, {"-0.5", 0}, {"", nullptr}, {"<NA>", nullptr}, {"None", nullptr}, {"nan", nullptr},
      {"abc", nullptr}, {7, 7}, {"NaN", nullptr}, {12.7, 12}, {-3.9, -3}, {" 7 ", 7}, {"1e3", 1000},
      {nullptr, nullptr}, {kNan, nullptr}, {true, nullptr}, {"+4", 4}, {"1_000", nullptr}};
  for (const auto& [input, expected] : cases) {
    const std::optional<std::int64_t> got = safe_int(input);
    EXPECT_EQ(got ? ordered_json(*got) : ordered_json(nullptr), expected) << input.dump();
  }
}

TEST(SafeInt, InfinityAndValuesBeyond64BitsOverflow) {
  EXPECT_THROW(safe_int(kInf), std::overflow_error);
  EXPECT_THROW(safe_int("-inf"), std::overflow_error);
  // The largest double below 2^63 still has an integer part; 2^63 itself has none.
  EXPECT_EQ(safe_int(9223372036854774784.0), 9223372036854774784LL);
  EXPECT_EQ(safe_int(-9223372036854774784.0), -9223372036854774784LL);
  EXPECT_THROW(safe_int(kInt64Limit), std::overflow_error);
  EXPECT_THROW(safe_int("-1e19"), std::overflow_error);
  EXPECT_TRUE(fits_int64(9223372036854774784.0));
  EXPECT_FALSE(fits_int64(-kInt64Limit));
  EXPECT_FALSE(fits_int64(kNan));
}

ordered_json column_json(const Column& column) {
  ordered_json values = ordered_json::array();
  for (std::size_t i = 0; i < column.size(); ++i) values.push_back(column.to_json(i));
  return values;
}

Column json_column(const ordered_json& values) {
  Column column("c", ColumnKind::kJson);
  for (const ordered_json& value : values) {
    if (value.is_null()) column.push_null();
    else column.push_json(value);
  }
  return column;
}

TEST(SafeIntSeries, ReadsNumbersWithoutRounding) {
  EXPECT_EQ(column_json(safe_int_series(json_column({"5", "x", nullptr, 2.5}))), ordered_json({5, nullptr, nullptr, 2.5}));
  Column texts("t", ColumnKind::kText);
  for (const char* text : {"5", "12", "nan", "<NA>"}) texts.push_text(text);
  const Column integers = safe_int_series(texts);
  EXPECT_EQ(integers.kind(), ColumnKind::kInteger);
  EXPECT_EQ(column_json(integers), ordered_json({5, 12, nullptr, nullptr}));
  Column floats("f", ColumnKind::kFloat);
  floats.push_float(1234.5);
  floats.push_float(kNan);
  floats.push_null();
  EXPECT_EQ(column_json(safe_int_series(floats)), ordered_json({1234.5, nullptr, nullptr}));
}

TEST(CleanStrSeries, KeepsTextAndNullsMissingMarkers) {
  const Column cleaned = clean_str_series(
      json_column({"", "nan", "None", "<NA>", 3.0, 12, kNan, nullptr, "Şişli", false}));
  EXPECT_EQ(cleaned.kind(), ColumnKind::kText);
  EXPECT_EQ(column_json(cleaned), ordered_json({"", nullptr, nullptr, nullptr, "3.0", "12", nullptr, nullptr, "Şişli", "False"}));
}

// The labels spell the edges, every edge opens its band, and integer and text columns of
// the same ordinary scores (integers, numeric texts, "YI" for -1, null) get the same codes.
TEST(ScoreBands, EdgesOpenTheirBandsAndIntegerAndTextScoresAgree) {
  const int edges[] = {0, kBandLowEdge, kBandMidEdge, kBandHighEdge, 1000};
  for (std::size_t band = 0; band < 4; ++band) {
    EXPECT_EQ(FLOW_BANDS[band], std::to_string(edges[band]) + "-" + std::to_string(edges[band + 1]));
  }
  EXPECT_EQ(FLOW_BANDS[kYiBand], "YI");
  for (std::size_t band = 1; band < 4; ++band) {
    EXPECT_EQ(band_of_number(edges[band] - 1), static_cast<std::int8_t>(band - 1)) << edges[band];
    EXPECT_EQ(band_of_number(edges[band]), static_cast<std::int8_t>(band)) << edges[band];
  }

  Column integers("i", ColumnKind::kInteger);
  Column texts("t", ColumnKind::kText);
  for (std::int64_t score = -3; score <= 1100; ++score) {
    integers.push_integer(score);
    texts.push_text(score == -1 ? "YI" : std::to_string(score));  // the text "-1" is not ordinary
  }
  integers.push_null();
  texts.push_null();
  const std::vector<std::int8_t> from_integers = band_codes(integers);
  EXPECT_EQ(from_integers, band_codes(texts));
  EXPECT_EQ(from_integers[2], kYiBand);  // the score -1
  EXPECT_EQ(from_integers.back(), kNoBand);
}

TEST(BandCodes, KeepTheirOwnRulesForUnusualScores) {
  using Codes = std::vector<std::int8_t>;
  EXPECT_EQ(band_codes(Column("e", ColumnKind::kText)), Codes{});
  EXPECT_EQ(band_codes(json_column({"YI", -1, nullptr, "None", 499.5, "826"})),
            (Codes{kYiBand, kYiBand, kNoBand, kNoBand, 1, 3}));
  EXPECT_EQ(band_codes(json_column({-1.0, "-1", kInf, "inf", "", "<NA>", 824.9})),
            (Codes{0, kYiBand, 3, 3, kNoBand, kNoBand, 2}));
  Column floats("f", ColumnKind::kFloat);
  for (double value : {-1.0, kNan, 325.0, kInf}) floats.push_float(value);
  EXPECT_EQ(band_codes(floats), (Codes{0, kNoBand, 1, 3}));
  Column integers("i", ColumnKind::kInteger);
  for (std::int64_t value : {-1, 0, 500, 825}) integers.push_integer(value);
  EXPECT_EQ(band_codes(integers), (Codes{kYiBand, 0, 2, 3}));
}

}  // namespace
}  // namespace vordak::pipeline
