#pragma once

// Whether a model's probabilities agree with the YI rates that followed: the Brier
// score, the Jeffreys test of one band's (or decile's) mean probability against its
// observed YI count, with a traffic light, and the Hosmer-Lemeshow test over deciles.
// No database; no rounding.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "pipeline/model_metrics.h"

namespace vordak::pipeline {

// The mean squared difference between probability and outcome (1 for "YI", 0 for not).
// nullopt for no firms. Throws std::invalid_argument when the sizes differ.
std::optional<double> brier_score(const std::vector<double>& probabilities, const std::vector<bool>& outcomes);

// A test's verdict at the p-values below: green at p >= 0.05, yellow from 0.01 up to
// 0.05, red below 0.01.
enum class TrafficLight { kGreen, kYellow, kRed };
inline constexpr double LIGHT_YELLOW_BELOW = 0.05;
inline constexpr double LIGHT_RED_BELOW = 0.01;
TrafficLight light_of(double p_value);
// "yesil", "sari", "kirmizi".
std::string_view light_text(TrafficLight light);

// The Jeffreys test of a group of `firms` with `events` YI against its mean predicted
// probability `mean_probability`. With Jeffreys' prior the YI rate's posterior is
// Beta(events + 1/2, firms - events + 1/2), F its distribution function; the test is
// two-sided, p = 2 min(F(mean), 1 - F(mean)), and `lower`/`upper` are the posterior's
// 2.5 % and 97.5 % quantiles (the mean lies inside exactly when p >= 0.05).
// `underestimates` is true when the observed rate lies above the prediction. nullopt
// for no firms; throws std::invalid_argument for more events than firms.
struct JeffreysTest {
  double p_value = 1;
  double lower = 0;
  double upper = 1;
  bool underestimates = false;
};
std::optional<JeffreysTest> jeffreys_test(std::size_t firms, std::size_t events, double mean_probability);

// The Hosmer-Lemeshow test over groups of similar probability (the deciles of
// calibration_bins): H = sum over groups of (O - E)^2 / (E (1 - E / n)), with O the YI
// count, n the firms and E = n times the mean probability, against a chi-square with
// groups - 2 degrees of freedom. A group predicted at exactly 0 or 1 adds nothing when it
// agrees and makes H infinite (p = 0) when it does not. nullopt below three groups.
struct HosmerLemeshow {
  double statistic = 0;
  std::size_t degrees_of_freedom = 0;
  double p_value = 1;
};
std::optional<HosmerLemeshow> hosmer_lemeshow(const std::vector<CalibrationBin>& groups);

}  // namespace vordak::pipeline
