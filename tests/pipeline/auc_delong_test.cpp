#include "pipeline/auc_delong.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "pipeline/distributions.h"

namespace vordak::pipeline {
namespace {

// DeLong's structural components straight from their definition, over every pair of a
// positive and a negative: psi = 1 above, 1/2 level, 0 below.
struct PlainDelong {
  double auc = 0, variance = 0;
  std::vector<double> positive, negative;  // placements

  PlainDelong(const std::vector<double>& scores, const std::vector<bool>& outcomes) {
    std::vector<double> pos, neg;
    for (std::size_t i = 0; i < scores.size(); ++i) (outcomes[i] ? pos : neg).push_back(scores[i]);
    const auto psi = [](double x, double y) { return x > y ? 1.0 : x == y ? 0.5 : 0.0; };
    for (double x : pos) {
      double sum = 0;
      for (double y : neg) sum += psi(x, y);
      positive.push_back(sum / static_cast<double>(neg.size()));
    }
    for (double y : neg) {
      double sum = 0;
      for (double x : pos) sum += psi(x, y);
      negative.push_back(sum / static_cast<double>(pos.size()));
    }
    for (double v : positive) auc += v / static_cast<double>(positive.size());
    double s10 = 0, s01 = 0;
    for (double v : positive) s10 += (v - auc) * (v - auc) / static_cast<double>(positive.size() - 1);
    for (double v : negative) s01 += (v - auc) * (v - auc) / static_cast<double>(negative.size() - 1);
    variance = s10 / static_cast<double>(positive.size()) + s01 / static_cast<double>(negative.size());
  }
};

TEST(AucDelong, SmallSetWithAHandWorkedVariance) {
  // Positives 0.8, 0.6, 0.4 outrank 4, 3 and 2 of the negatives 0.7, 0.5, 0.3, 0.2:
  // placements 1, 3/4, 1/2, AUC 3/4. The negatives' placements (positives above them) are
  // 1/3, 2/3, 1, 1. S10 = (1/16 + 0 + 1/16) / 2 = 1/16; S01 = (25 + 1 + 9 + 9) / 144 / 3
  // = 44/432; variance = S10 / 3 + S01 / 4 = 1/48 + 11/432 = 5/108.
  const std::vector<double> scores = {0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2};
  const std::vector<bool> outcomes = {true, false, true, false, true, false, false};
  const std::optional<AucEstimate> estimate = delong_auc(scores, outcomes);
  ASSERT_TRUE(estimate);
  EXPECT_DOUBLE_EQ(estimate->auc, 0.75);
  EXPECT_NEAR(estimate->variance, 5.0 / 108, 1e-15);
  EXPECT_EQ(estimate->positives, 3u);
  EXPECT_EQ(estimate->negatives, 4u);
  EXPECT_NEAR(estimate->lower(), 0.75 - Z_95 * std::sqrt(5.0 / 108), 1e-15);
  EXPECT_EQ(estimate->upper(), 1.0);  // 0.75 + 0.42 is cut at 1
  // Against a reference of 0.9: z = 0.15 / 0.21517, one-sided p = 0.24286.
  EXPECT_NEAR(auc_drop_p_value(*estimate, 0.9), 0.2428585297, 1e-9);
  EXPECT_NEAR(auc_drop_p_value(*estimate, 0.75), 0.5, 1e-15);

  // Published normal tail points.
  EXPECT_NEAR(normal_upper_tail(Z_95), 0.025, 1e-12);
  EXPECT_NEAR(normal_upper_tail(1.6448536269514722), 0.05, 1e-12);
  EXPECT_NEAR(normal_upper_tail(-1.6448536269514722), 0.95, 1e-12);

  // Without spread the test is a plain comparison; one firm per class has no variance.
  const AucEstimate perfect{1.0, 0.0, 5, 5};
  EXPECT_EQ(auc_drop_p_value(perfect, 0.9), 1.0);
  EXPECT_EQ(auc_drop_p_value({0.8, 0.0, 5, 5}, 0.9), 0.0);
  EXPECT_EQ(delong_auc(std::vector<double>{1, 2}, std::vector<bool>{false, true})->variance, 0.0);
}

// Many ties within and across the classes: the AUC, its variance and the paired test
// agree with the pairwise definition.
TEST(AucDelong, AgreesWithThePairwiseDefinitionAndPairsTwoScores) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> level(0, 20);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> first, second;
  std::vector<bool> outcomes;
  for (int i = 0; i < 400; ++i) {
    const int a = level(random);
    first.push_back(a);
    second.push_back(a + level(random) / 2);  // related to the first, as two models of one firm are
    outcomes.push_back(unit(random) < 0.05 + 0.02 * a);
  }
  const PlainDelong plain_a(first, outcomes), plain_b(second, outcomes);
  const std::optional<AucEstimate> estimate = delong_auc(first, outcomes);
  ASSERT_TRUE(estimate);
  EXPECT_NEAR(estimate->auc, plain_a.auc, 1e-12);
  EXPECT_NEAR(estimate->variance, plain_a.variance, 1e-12);

  const std::optional<AucComparison> test = delong_compare(first, second, outcomes);
  ASSERT_TRUE(test);
  EXPECT_NEAR(test->first.auc, plain_a.auc, 1e-12);
  EXPECT_NEAR(test->second.auc, plain_b.auc, 1e-12);
  EXPECT_NEAR(test->second.variance, plain_b.variance, 1e-12);
  const auto m = static_cast<double>(plain_a.positive.size()), n = static_cast<double>(plain_a.negative.size());
  double s10 = 0, s01 = 0;
  for (std::size_t i = 0; i < plain_a.positive.size(); ++i) {
    s10 += (plain_a.positive[i] - plain_a.auc) * (plain_b.positive[i] - plain_b.auc) / (m - 1);
  }
  for (std::size_t i = 0; i < plain_a.negative.size(); ++i) {
    s01 += (plain_a.negative[i] - plain_a.auc) * (plain_b.negative[i] - plain_b.auc) / (n - 1);
  }
  const double spread = plain_a.variance + plain_b.variance - 2 * (s10 / m + s01 / n);
  EXPECT_NEAR(test->difference, plain_a.auc - plain_b.auc, 1e-12);
  EXPECT_NEAR(test->standard_error, std::sqrt(spread), 1e-12);
  EXPECT_NEAR(test->p_value, 2 * normal_upper_tail(std::abs(plain_a.auc - plain_b.auc) / std::sqrt(spread)), 1e-12);

  // A score compared with itself differs by nothing; too few of a class cannot be tested.
  const std::optional<AucComparison> same = delong_compare(first, first, outcomes);
  EXPECT_EQ(same->difference, 0.0);
  EXPECT_EQ(same->p_value, 1.0);
  EXPECT_FALSE(delong_compare({1, 2, 3}, {1, 2, 3}, {true, false, false}));
  EXPECT_FALSE(delong_auc(std::vector<double>{1, 2}, std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace vordak::pipeline
