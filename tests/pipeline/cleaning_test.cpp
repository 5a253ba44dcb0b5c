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
  EXPECT_THROW(score_to_band("Infinity"), std::overflow_error);
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

TEST(CleanStr, KeepsTextAndNullsMissingMarkers) {
  const std::vector<std::pair<ordered_json, ordered_json>> cases = {
      {"", ""}, {"nan", nullptr}, {"None", nullptr}, {"<NA>", nullptr}, {3.0, "3.0"}, {12, "12"},
      {kNan, nullptr}, {nullptr, nullptr}, {"Şişli", "Şişli"}, {false, "False"}};
  for (const auto& [input, expected] : cases) {
    const std::optional<std::string> got = clean_str(input);
    EXPECT_EQ(got ? ordered_json(*got) : ordered_json(nullptr), expected) << input.dump();
  }
}

TEST(ScoreToBand, MapsScoresToLabels) {
  const std::vector<std::pair<ordered_json, ordered_json>> cases = {
      {324.99, "0-325"}, {325, "325-500"}, {"500", "500-825"}, {824, "500-825"}, {825, "825-1000"},
      {1500, "825-1000"}, {-40, "0-325"}, {"YI", "YI"}, {-1, "YI"}, {"n/a", nullptr}, {nullptr, nullptr},
      {-1.0, "YI"}, {"-1", "0-325"}, {"nan", nullptr}, {824.9, "500-825"}};
  for (const auto& [input, expected] : cases) {
    const std::optional<std::string> got = score_to_band(input);
    EXPECT_EQ(got ? ordered_json(*got) : ordered_json(nullptr), expected) << input.dump();
  }
}

// The labels spell the edges, every edge opens its band, and the scalar and column
// rules agree on every ordinary score (integers, numeric texts, "YI", the integer -1,
// null).
TEST(ScoreBands, EdgesOpenTheirBandsAndBothRulesAgreeOnOrdinaryScores) {
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
  std::vector<ordered_json> values;
  for (std::int64_t score = -3; score <= 1100; ++score) {
    integers.push_integer(score);
    texts.push_text(score == -1 ? "YI" : std::to_string(score));  // the text "-1" is not ordinary
    values.emplace_back(score);
  }
  integers.push_null();
  texts.push_null();
  values.emplace_back(nullptr);
  const Column from_integers = score_to_band_vec(integers);
  const Column from_texts = score_to_band_vec(texts);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::optional<std::string> scalar = score_to_band(values[i]);
    const ordered_json expected = scalar ? ordered_json(*scalar) : ordered_json(nullptr);
    ASSERT_EQ(from_integers.to_json(i), expected) << values[i];
    ASSERT_EQ(from_texts.to_json(i), expected) << values[i];
  }
}

TEST(ScoreToBandVec, LabelsColumnsAndKeepsItsOwnRules) {
  EXPECT_EQ(score_to_band_vec(Column("e", ColumnKind::kText)).size(), 0u);
  EXPECT_EQ(column_json(score_to_band_vec(json_column({"YI", -1, nullptr, "None", 499.5, "826"}))),
            ordered_json({"YI", "YI", nullptr, nullptr, "325-500", "825-1000"}));
  // Where the two band rules differ on purpose.
  EXPECT_EQ(column_json(score_to_band_vec(json_column({-1.0, "-1", kInf, "inf", "", "<NA>", 824.9}))),
            ordered_json({"0-325", "YI", "825-1000", "825-1000", nullptr, nullptr, "500-825"}));
  Column floats("f", ColumnKind::kFloat);
  for (double value : {-1.0, kNan, 325.0, kInf}) floats.push_float(value);
  EXPECT_EQ(column_json(score_to_band_vec(floats)), ordered_json({"0-325", nullptr, "325-500", "825-1000"}));
  Column integers("i", ColumnKind::kInteger);
  for (std::int64_t value : {-1, 0, 500, 825}) integers.push_integer(value);
  EXPECT_EQ(column_json(score_to_band_vec(integers)), ordered_json({"YI", "0-325", "500-825", "825-1000"}));
}

}  // namespace
}  // namespace vordak::pipeline
