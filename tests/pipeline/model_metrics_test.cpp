#include "pipeline/model_metrics.h"

#include "pipeline/auc_delong.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace vordak::pipeline {
namespace {

TEST(ModelMetrics, AucAndGiniMatchHandWorkedCases) {
  struct Case {
    const char* name;
    std::vector<double> scores;
    std::vector<bool> outcomes;
    std::optional<double> auc;
  };
  const std::vector<Case> cases = {
      {"perfect ranking", {0.1, 0.2, 0.8, 0.9}, {false, false, true, true}, 1.0},
      {"reversed ranking", {0.9, 0.8, 0.2, 0.1}, {false, false, true, true}, 0.0},
      // Pairs (positive, negative): (0.35, 0.1) won, (0.35, 0.4) lost, (0.8, *) won: 3 of 4.
      {"one pair out of order", {0.1, 0.4, 0.35, 0.8}, {false, false, true, true}, 0.75},
      // (0.5, 0.5) is a tie and counts half: (0.5 + 1 + 1 + 1) / 4.
      {"a tie across the classes", {0.5, 0.5, 0.2, 0.9}, {true, false, false, true}, 0.875},
      {"all scores equal", {7, 7, 7, 7, 7}, {true, false, true, false, false}, 0.5},
      // Ranks 1..6 with the two 300s sharing 2.5 and the 900s 5.5; positives 2.5 + 5.5 + 4:
      // (12 - 3 * 4 / 2) / (3 * 3) = 6 / 9.
      {"ties within and across", {100, 300, 300, 500, 900, 900}, {false, true, false, true, true, false}, 6.0 / 9.0},
      {"no positive", {1, 2}, {false, false}, std::nullopt},
      {"no negative", {1, 2}, {true, true}, std::nullopt},
      {"nothing", {}, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<AucEstimate> auc = delong_auc(c.scores, c.outcomes);
    ASSERT_EQ(auc.has_value(), c.auc.has_value());
    if (auc) {
      EXPECT_NEAR(auc->auc, *c.auc, 1e-12);
    }
  }
  EXPECT_DOUBLE_EQ(gini_of(0.75), 0.5);
  EXPECT_DOUBLE_EQ(gini_of(0.5), 0.0);
  EXPECT_THROW(delong_auc(std::vector<double>{1, 2}, std::vector<bool>{true}), std::invalid_argument);
}

TEST(ModelMetrics, PopulationStabilityMatchesHandWorkedCases) {
  struct Case {
    const char* name;
    std::vector<std::size_t> expected, actual;
    std::optional<double> psi;
  };
  const std::vector<Case> cases = {
      {"same shares", {10, 30, 60}, {20, 60, 120}, 0.0},
      // (0.25 - 0.5) ln(0.5) + (0.75 - 0.5) ln(1.5)
      {"half moves", {50, 50}, {25, 75}, -0.25 * std::log(0.5) + 0.25 * std::log(1.5)},
      // An empty band counts as a share of 1e-4: (0.9 - 1) ln(0.9) + (0.1 - 1e-4) ln(0.1 / 1e-4)
      {"a band empty before", {100, 0}, {90, 10}, -0.1 * std::log(0.9) + (0.1 - 1e-4) * std::log(1000.0)},
      {"nothing before", {0, 0}, {1, 2}, std::nullopt},
      {"nothing now", {1, 2}, {0, 0}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<double> psi = population_stability(c.expected, c.actual);
    ASSERT_EQ(psi.has_value(), c.psi.has_value());
    if (psi) {
      EXPECT_NEAR(*psi, *c.psi, 1e-12);
    }
  }
  EXPECT_NEAR(*population_stability({50, 50}, {25, 75}), 0.2746530722, 1e-9);
  EXPECT_THROW(population_stability({1}, {1, 2}), std::invalid_argument);
}

// The normalised Herfindahl index against its plain definition: 1 + ln(sum of squared
// shares) / ln(K).
TEST(ModelMetrics, HerfindahlRunsFromEvenlySpreadToAllInOneBand) {
  struct Case {
    const char* name;
    std::vector<std::size_t> counts;
    std::optional<double> index;
  };
  const std::vector<Case> cases = {
      {"evenly spread", {25, 25, 25, 25}, 0.0},
      {"all in one band", {0, 40, 0, 0, 0}, 1.0},
      {"three to one", {30, 10}, 1 + std::log(0.75 * 0.75 + 0.25 * 0.25) / std::log(2.0)},
      {"uneven over five", {50, 25, 15, 7, 3},
       1 + std::log(0.25 + 0.0625 + 0.0225 + 0.0049 + 0.0009) / std::log(5.0)},
      {"no firms", {0, 0, 0}, std::nullopt},
      {"one band", {12}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<double> index = herfindahl_index(c.counts);
    ASSERT_EQ(index.has_value(), c.index.has_value());
    if (index) {
      EXPECT_NEAR(*index, *c.index, 1e-12);
    }
  }
}

TEST(ModelMetrics, MigrationCountsRatesAndExposureByDirection) {
  Migration migration(4);
  migration.add(0, 0, 10);
  migration.add(0, 1, 20);
  migration.add(0, 1, 5);
  migration.add(2, 1, 7);
  migration.add(1, 1, 3);
  migration.add(1, 3, 100);
  EXPECT_EQ(migration.counts(), (std::vector<std::vector<std::size_t>>{{1, 2, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 0}, {0, 0, 0, 0}}));
  EXPECT_EQ(migration.exposure()[0][1], 25);
  EXPECT_EQ(migration.downgrades(), 3u);
  EXPECT_EQ(migration.downgrade_exposure(), 125);
  EXPECT_EQ(migration.upgrades(), 1u);
  EXPECT_EQ(migration.upgrade_exposure(), 7);
  EXPECT_EQ(migration.unchanged(), 2u);
  const auto rates = migration.rates();
  EXPECT_NEAR(*rates[0][0], 1.0 / 3, 1e-15);
  EXPECT_NEAR(*rates[0][1], 2.0 / 3, 1e-15);
  EXPECT_EQ(*rates[0][2], 0.0);
  EXPECT_EQ(*rates[1][3], 0.5);
  EXPECT_EQ(*rates[2][1], 1.0);
  EXPECT_FALSE(rates[3][0].has_value());  // nobody started in the worst band
  EXPECT_THROW(migration.add(4, 0, 1), std::out_of_range);
}

TEST(ModelMetrics, CalibrationCutsTheRankedFirmsIntoNearlyEqualGroups) {
  // Ten firms out of order; in probability order the outcomes are 0 0 0 1 0 0 1 0 1 1.
  const std::vector<double> probabilities = {0.9, 0.1, 0.5, 0.3, 0.7, 0.2, 0.4, 0.6, 0.8, 1.0};
  const std::vector<bool> outcomes = {true, false, false, false, true, false, true, false, false, true};
  const std::vector<CalibrationBin> fifths = calibration_bins(probabilities, outcomes, 5);
  ASSERT_EQ(fifths.size(), 5u);
  const std::vector<std::size_t> yi = {0, 1, 0, 1, 2};
  const std::vector<double> means = {0.15, 0.35, 0.55, 0.75, 0.95};
  for (std::size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(fifths[k].firms, 2u);
    EXPECT_EQ(fifths[k].yi, yi[k]);
    EXPECT_NEAR(fifths[k].mean_probability, means[k], 1e-15);
  }
  EXPECT_EQ(fifths[4].observed_rate(), 1.0);

  // Seven firms in three groups: positions 0-1, 2-3, 4-6.
  const std::vector<CalibrationBin> thirds = calibration_bins({1, 2, 3, 4, 5, 6, 7}, std::vector<bool>(7, false), 3);
  ASSERT_EQ(thirds.size(), 3u);
  EXPECT_EQ(thirds[0].firms, 2u);
  EXPECT_EQ(thirds[2].firms, 3u);
  EXPECT_EQ(thirds[2].mean_probability, 6.0);
  // Fewer firms than groups: the empty groups are left out; equal probabilities keep
  // their input order, so the positive one lands in the later group.
  const std::vector<CalibrationBin> few = calibration_bins({0.2, 0.2}, {false, true}, 10);
  ASSERT_EQ(few.size(), 2u);
  EXPECT_EQ(few[0].yi, 0u);
  EXPECT_EQ(few[1].yi, 1u);
  EXPECT_TRUE(calibration_bins({}, {}, 10).empty());
  EXPECT_THROW(calibration_bins({0.1}, {true}, 0), std::invalid_argument);

  // Fed one firm at a time in order, group k holds positions k n / 10 up to (k + 1) n / 10
  // whatever the sample size.
  for (std::size_t n = 1; n <= 37; ++n) {
    CalibrationBinner binner(n);
    for (std::size_t i = 0; i < n; ++i) binner.add(static_cast<double>(i), i % 3 == 0);
    std::vector<std::size_t> expected;
    for (std::size_t k = 0; k < 10; ++k) {
      if ((k + 1) * n / 10 > k * n / 10) expected.push_back((k + 1) * n / 10 - k * n / 10);
    }
    std::vector<std::size_t> sizes;
    for (const CalibrationBin& bin : binner.result()) sizes.push_back(bin.firms);
    EXPECT_EQ(sizes, expected) << n;
    EXPECT_THROW(binner.add(1, false), std::out_of_range);
  }
}

}  // namespace
}  // namespace vordak::pipeline
