#include "pipeline/entity_keys.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/muta_keys.h"

namespace vordak::pipeline {
namespace {

Column single(ColumnKind kind, const ordered_json& value) {
  Column column("entity_id", kind);
  if (value.is_null()) column.push_null();
  else if (kind == ColumnKind::kInteger) column.push_integer(value.get<std::int64_t>());
  else if (kind == ColumnKind::kFloat) column.push_float(value.get<double>());
  else if (kind == ColumnKind::kText) column.push_text(value.get<std::string>());
  else if (kind == ColumnKind::kBoolean) column.push_boolean(value.get<bool>());
  else column.push_json(value);
  return column;
}

TEST(EntityKey, AcceptsWholeNumbersOfEveryKindAndNothingElse) {
  const double two_to_63 = 9223372036854775808.0;
  const struct {
    ColumnKind kind;
    ordered_json value;
    std::optional<std::int64_t> key;
  } cases[] = {
      {ColumnKind::kInteger, 1234, 1234},
      {ColumnKind::kInteger, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min()},
      {ColumnKind::kInteger, nullptr, std::nullopt},
      {ColumnKind::kFloat, 1234.0, 1234},
      {ColumnKind::kFloat, -7.0, -7},
      {ColumnKind::kFloat, 1234.5, std::nullopt},
      {ColumnKind::kFloat, std::nan(""), std::nullopt},
      {ColumnKind::kFloat, std::numeric_limits<double>::infinity(), std::nullopt},
      {ColumnKind::kFloat, two_to_63, std::nullopt},
      {ColumnKind::kFloat, 9007199254740992.0, 9007199254740992},
      {ColumnKind::kText, "1234", 1234},
      {ColumnKind::kText, " +42 ", 42},
      {ColumnKind::kText, "-3", -3},
      {ColumnKind::kText, "12.0", std::nullopt},
      {ColumnKind::kText, "F-1", std::nullopt},
      {ColumnKind::kText, "", std::nullopt},
      {ColumnKind::kText, "99999999999999999999", std::nullopt},
      {ColumnKind::kBoolean, true, std::nullopt},
      {ColumnKind::kJson, 55, 55},
      {ColumnKind::kJson, 55.0, 55},
      {ColumnKind::kJson, "55", 55},
      {ColumnKind::kJson, 5.5, std::nullopt},
      {ColumnKind::kJson, std::numeric_limits<std::uint64_t>::max(), std::nullopt},
      {ColumnKind::kJson, ordered_json::array({1}), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(entity_key(single(c.kind, c.value), 0), c.key) << c.value.dump();
  }
  Column absent("muta", ColumnKind::kInteger);
  absent.push_absent();
  EXPECT_EQ(entity_key(absent, 0), std::nullopt);
}

TEST(EntityKeys, ConvertsAWholeColumnOrNamesTheFirstBadValue) {
  Column texts("entity_id", ColumnKind::kText);
  for (const char* text : {"3", "1", "2"}) texts.push_text(text);
  EXPECT_EQ(entity_keys(texts, "fact_periodic"), (std::vector<std::int64_t>{3, 1, 2}));

  const struct {
    Column column;
    std::string message;
  } refused[] = {
      {single(ColumnKind::kFloat, 1.5), "t.entity_id holds a value that is not an integer: 1.5"},
      {single(ColumnKind::kInteger, nullptr), "t.entity_id holds a value that is not an integer: NULL"},
      {single(ColumnKind::kText, "F-1"), "t.entity_id holds a value that is not an integer: F-1"},
      {single(ColumnKind::kBoolean, true), "t.entity_id holds a value that is not an integer: True"},
  };
  for (const auto& c : refused) {
    try {
      entity_keys(c.column, "t");
      ADD_FAILURE() << c.message;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

TEST(MutaSet, MatchesNumbersByValueAndTextsByTheirBytes) {
  Column muta("muta", ColumnKind::kJson);
  muta.push_json(1234);      // 0
  muta.push_json(1234.0);    // 1: the same key as 0
  muta.push_json("1234");    // 2: a text, never equal to a number
  muta.push_json("abc");     // 3
  muta.push_null();          // 4
  muta.push_json(" abc");    // 5: another text
  muta.push_json(5);         // 6
  muta.push_absent();        // 7: counts as null

  MutaSet set;
  for (std::size_t row : {0, 3, 4}) set.add(muta, row);
  EXPECT_EQ(set.size(), 3u);
  const bool expected[] = {true, true, false, true, true, false, false, true};
  for (std::size_t row = 0; row < muta.size(); ++row) EXPECT_EQ(set.contains(muta, row), expected[row]) << row;

  // The same firm seen in a typed column is the same key.
  Column integers("muta", ColumnKind::kInteger);
  integers.push_integer(1234);
  integers.push_integer(5);
  Column texts("muta", ColumnKind::kText);
  texts.push_text("abc");
  texts.push_text("1234");
  EXPECT_TRUE(set.contains(integers, 0));
  EXPECT_FALSE(set.contains(integers, 1));
  EXPECT_TRUE(set.contains(texts, 0));
  EXPECT_FALSE(set.contains(texts, 1));

  MutaSet empty;
  for (std::size_t row = 0; row < muta.size(); ++row) EXPECT_FALSE(empty.contains(muta, row)) << row;
}

}  // namespace
}  // namespace vordak::pipeline
