#include "pipeline/ranking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace vordak::pipeline {
namespace {

std::optional<double> key(double value) { return value; }

TEST(RiskKey, ReadsNumbersAndRefusesWhatCannotBeCompared) {
  const std::vector<std::pair<ordered_json, std::optional<double>>> readable = {
      {nullptr, std::nullopt}, {5, 5.0}, {-2.5, -2.5}, {true, 1.0}, {false, 0.0}, {std::nan(""), std::nullopt},
      {9007199254740993LL, 9007199254740992.0}};
  for (const auto& [value, expected] : readable) EXPECT_EQ(risk_key(value), expected) << value.dump();
  try {
    risk_key(ordered_json("12"), "_ml_yi_prob");
    FAIL() << "a text was compared as a risk";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "\"_ml_yi_prob\" is not a number: \"12\"");
  }
  EXPECT_THROW(risk_key(ordered_json::array()), std::runtime_error);

  // The column form gives the same keys, and null and absent cells are both no key.
  Column floats("son_risk", ColumnKind::kFloat);
  floats.push_float(1.5);
  floats.push_null();
  floats.push_absent();
  floats.push_float(std::nan(""));
  EXPECT_EQ(risk_key(floats, 0), key(1.5));
  for (std::size_t row = 1; row < 4; ++row) EXPECT_EQ(risk_key(floats, row), std::nullopt) << row;
  Column texts("son_risk", ColumnKind::kText);
  texts.push_text("100");
  EXPECT_THROW(risk_key(texts, 0), std::runtime_error);
  Column json("son_risk", ColumnKind::kJson);
  json.push_json(7);
  json.push_json("x");
  EXPECT_EQ(risk_key(json, 0), key(7));
  EXPECT_THROW(risk_key(json, 1), std::runtime_error);
}

TEST(OrderByRisk, PlacesNullsByTheirRuleAndKeepsTiesInInputOrder) {
  const std::vector<std::optional<double>> keys = {key(10), std::nullopt, key(0), key(30), key(10), std::nullopt,
                                                   key(-5)};
  EXPECT_EQ(order_by_risk_desc(keys, NullRisk::kLast), (std::vector<std::size_t>{3, 0, 4, 2, 6, 1, 5}));
  // As zero, a null ties with 0 and keeps its place among the zeros.
  EXPECT_EQ(order_by_risk_desc(keys, NullRisk::kAsZero), (std::vector<std::size_t>{3, 0, 4, 1, 2, 5, 6}));
  EXPECT_TRUE(order_by_risk_desc({}, NullRisk::kLast).empty());
}

// Whatever the keys, both orders are permutations, descending by key under their null
// rule, with equal keys in input order.
TEST(OrderByRisk, IsAStableDescendingPermutationForAnyKeys) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> value(-3, 3);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::optional<double>> keys(random() % 40);
    for (auto& k : keys) k = value(random) == 3 ? std::nullopt : std::optional<double>(value(random));
    for (const NullRisk nulls : {NullRisk::kLast, NullRisk::kAsZero}) {
      const std::vector<std::size_t> order = order_by_risk_desc(keys, nulls);
      std::vector<std::size_t> sorted = order;
      std::sort(sorted.begin(), sorted.end());
      for (std::size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], i);
      const auto rank = [&](std::size_t i) {
        if (keys[i]) return *keys[i];
        return nulls == NullRisk::kAsZero ? 0.0 : -INFINITY;
      };
      for (std::size_t i = 1; i < order.size(); ++i) {
        ASSERT_GE(rank(order[i - 1]), rank(order[i]));
        if (rank(order[i - 1]) == rank(order[i])) {
          ASSERT_LT(order[i - 1], order[i]);
        }
      }
    }
  }
}

TEST(SortEntriesByRisk, OrdersRecordsByTheirSonRisk) {
  std::vector<ordered_json> entries = {{{"muta", 1}, {"son_risk", 5}},
                                       {{"muta", 2}},
                                       {{"muta", 3}, {"son_risk", 50}},
                                       {{"muta", 4}, {"son_risk", nullptr}},
                                       {{"muta", 5}, {"son_risk", 5}}};
  std::vector<ordered_json> last = entries;
  sort_entries_by_risk(last, NullRisk::kLast);
  std::vector<int> order;
  for (const ordered_json& entry : last) order.push_back(entry["muta"].get<int>());
  EXPECT_EQ(order, (std::vector<int>{3, 1, 5, 2, 4}));

  entries.push_back({{"muta", 6}, {"son_risk", -1}});
  sort_entries_by_risk(entries, NullRisk::kAsZero);
  order.clear();
  for (const ordered_json& entry : entries) order.push_back(entry["muta"].get<int>());
  EXPECT_EQ(order, (std::vector<int>{3, 1, 5, 2, 4, 6}));

  std::vector<ordered_json> text_risk = {{{"son_risk", "high"}}};
  EXPECT_THROW(sort_entries_by_risk(text_risk, NullRisk::kLast), std::runtime_error);
}

}  // namespace
}  // namespace vordak::pipeline
