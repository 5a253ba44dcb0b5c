#include "pipeline/calibration_tests.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "pipeline/distributions.h"

namespace vordak::pipeline {

std::optional<double> brier_score(const std::vector<double>& probabilities, const std::vector<bool>& outcomes) {
  require_same_size(probabilities.size(), outcomes.size(), "brier_score");
  if (probabilities.empty()) return std::nullopt;
  double sum = 0;
  for (std::size_t i = 0; i < probabilities.size(); ++i) sum += std::pow(probabilities[i] - (outcomes[i] ? 1.0 : 0.0), 2);
  return sum / static_cast<double>(probabilities.size());
}

TrafficLight light_of(double p_value) {
  if (p_value < LIGHT_RED_BELOW) return TrafficLight::kRed;
  if (p_value < LIGHT_YELLOW_BELOW) return TrafficLight::kYellow;
  return TrafficLight::kGreen;
}

std::string_view light_text(TrafficLight light) {
  switch (light) {
    case TrafficLight::kGreen: return "yesil";
    case TrafficLight::kYellow: return "sari";
    case TrafficLight::kRed: return "kirmizi";
  }
  return "";
}

std::optional<JeffreysTest> jeffreys_test(std::size_t firms, std::size_t events, double mean_probability) {
  if (events > firms) {
    throw std::invalid_argument("jeffreys_test: " + std::to_string(events) + " events in " + std::to_string(firms) + " firms");
  }
  if (firms == 0) return std::nullopt;
  const double a = static_cast<double>(events) + 0.5, b = static_cast<double>(firms - events) + 0.5;
  const double below = beta_cdf(std::clamp(mean_probability, 0.0, 1.0), a, b);
  JeffreysTest test;
  test.p_value = std::min(1.0, 2 * std::min(below, 1 - below));
  test.lower = beta_quantile(0.025, a, b);
  test.upper = beta_quantile(0.975, a, b);
  test.underestimates = static_cast<double>(events) / static_cast<double>(firms) > mean_probability;
  return test;
}

std::optional<HosmerLemeshow> hosmer_lemeshow(const std::vector<CalibrationBin>& groups) {
  if (groups.size() < 3) return std::nullopt;
  HosmerLemeshow test;
  for (const CalibrationBin& group : groups) {
    const auto n = static_cast<double>(group.firms);
    const double expected = n * group.mean_probability, observed = static_cast<double>(group.yi);
    const double spread = expected * (1 - group.mean_probability);
    if (spread > 0) {
      test.statistic += std::pow(observed - expected, 2) / spread;
    } else if (std::abs(observed - expected) > 1e-9) {
      test.statistic = std::numeric_limits<double>::infinity();
    }
  }
  test.degrees_of_freedom = groups.size() - 2;
  test.p_value = std::isinf(test.statistic) ? 0.0
                                            : chi_square_upper_tail(test.statistic, static_cast<double>(test.degrees_of_freedom));
  return test;
}

}  // namespace vordak::pipeline
