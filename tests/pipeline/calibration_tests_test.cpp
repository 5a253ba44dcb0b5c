#include "pipeline/calibration_tests.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "pipeline/distributions.h"

namespace vordak::pipeline {
namespace {

// The beta distribution function by Simpson's rule over its density, for shapes of at
// least 1 (no singularity at the ends).
double integrated_beta_cdf(double x, double a, double b) {
  const auto density = [&](double t) { return std::pow(t, a - 1) * std::pow(1 - t, b - 1); };
  const auto integral = [&](double to) {
    const int steps = 20000;
    const double h = to / steps;
    double sum = density(0) + density(to);
    for (int i = 1; i < steps; ++i) sum += (i % 2 ? 4 : 2) * density(i * h);
    return sum * h / 3;
  };
  return integral(x) / integral(1);
}

TEST(CalibrationTests, BetaDistributionAgainstClosedFormsAndIntegration) {
  // Beta(1/2, 3/2), the Jeffreys posterior of no event in one firm: with t = asin(sqrt(x)),
  // F(x) = (2 / pi)(t + sin t cos t).
  for (double x : {0.01, 0.2, 0.5, 0.9}) {
    const double t = std::asin(std::sqrt(x));
    EXPECT_NEAR(beta_cdf(x, 0.5, 1.5), 2 / std::numbers::pi * (t + std::sin(t) * std::cos(t)), 1e-12) << x;
  }
  struct Case {
    double x, a, b;
  };
  for (const Case& c : {Case{0.02, 3.5, 37.5}, Case{0.1, 1.5, 8.5}, Case{0.7, 6.5, 2.5}, Case{0.011, 15.5, 985.5}}) {
    SCOPED_TRACE(c.a);
    EXPECT_NEAR(beta_cdf(c.x, c.a, c.b), integrated_beta_cdf(c.x, c.a, c.b), 1e-6);
    // The quantile inverts the distribution function.
    for (double p : {0.025, 0.5, 0.975}) EXPECT_NEAR(beta_cdf(beta_quantile(p, c.a, c.b), c.a, c.b), p, 1e-12);
  }
  EXPECT_EQ(beta_cdf(-0.1, 2, 3), 0.0);
  EXPECT_EQ(beta_cdf(1.5, 2, 3), 1.0);
}

TEST(CalibrationTests, JeffreysTestPerGroupWithTrafficLights) {
  // 3 YI among 40 firms predicted at 2%: the posterior Beta(3.5, 37.5) puts 2.003% of its
  // mass below 0.02, so p = 0.04006 (yellow), the observed 7.5% lying above.
  const std::optional<JeffreysTest> few = jeffreys_test(40, 3, 0.02);
  ASSERT_TRUE(few);
  EXPECT_NEAR(few->p_value, 2 * 0.020031396320761865, 1e-9);
  EXPECT_TRUE(few->underestimates);
  EXPECT_NEAR(few->lower, 0.02157667, 1e-8);
  EXPECT_NEAR(few->upper, 0.1868143, 1e-7);
  EXPECT_EQ(light_of(few->p_value), TrafficLight::kYellow);
  // The interval holds the prediction exactly when the test passes at 5%.
  for (const double predicted : {0.01, 0.03, 0.075, 0.15, 0.2, 0.3}) {
    const JeffreysTest test = *jeffreys_test(40, 3, predicted);
    EXPECT_EQ(test.p_value >= 0.05, test.lower <= predicted && predicted <= test.upper) << predicted;
  }

  struct Light {
    double p;
    TrafficLight light;
    const char* text;
  };
  for (const Light& c : {Light{0.5, TrafficLight::kGreen, "yesil"}, Light{0.05, TrafficLight::kGreen, "yesil"},
                         Light{0.0499, TrafficLight::kYellow, "sari"}, Light{0.01, TrafficLight::kYellow, "sari"},
                         Light{0.0099, TrafficLight::kRed, "kirmizi"}}) {
    EXPECT_EQ(light_of(c.p), c.light) << c.p;
    EXPECT_EQ(light_text(c.light), c.text);
  }
  // 1000 firms at 1% with 15 YI: one-sided mass below the prediction 0.0632.
  EXPECT_NEAR(jeffreys_test(1000, 15, 0.01)->p_value, 2 * 0.06322842892954407, 1e-9);
  // Far too high a prediction is red the other way.
  EXPECT_FALSE(jeffreys_test(500, 5, 0.2)->underestimates);
  EXPECT_EQ(light_of(jeffreys_test(500, 5, 0.2)->p_value), TrafficLight::kRed);
  EXPECT_FALSE(jeffreys_test(0, 0, 0.1));
  EXPECT_THROW(jeffreys_test(3, 4, 0.1), std::invalid_argument);
}

TEST(CalibrationTests, HosmerLemeshowAndBrier) {
  // Published chi-square points: 15.507 and 20.090 for 8 degrees of freedom, 5.991 for 2.
  EXPECT_NEAR(chi_square_upper_tail(15.507, 8), 0.05, 1e-5);
  EXPECT_NEAR(chi_square_upper_tail(20.090, 8), 0.01, 1e-5);
  EXPECT_NEAR(chi_square_upper_tail(5.991, 2), 0.05, 1e-4);
  EXPECT_NEAR(chi_square_upper_tail(3.0, 2), std::exp(-1.5), 1e-15);  // two degrees: exp(-x / 2)
  EXPECT_EQ(chi_square_upper_tail(0, 3), 1.0);

  // Four groups: (O - E)^2 / (n p (1 - p)) with E = n p.
  const std::vector<CalibrationBin> groups = {{100, 1, 0.02}, {100, 4, 0.05}, {100, 12, 0.1}, {50, 20, 0.3}};
  const double h = std::pow(1 - 2.0, 2) / (100 * 0.02 * 0.98) + std::pow(4 - 5.0, 2) / (100 * 0.05 * 0.95) +
                   std::pow(12 - 10.0, 2) / (100 * 0.1 * 0.9) + std::pow(20 - 15.0, 2) / (50 * 0.3 * 0.7);
  const std::optional<HosmerLemeshow> test = hosmer_lemeshow(groups);
  ASSERT_TRUE(test);
  EXPECT_NEAR(test->statistic, h, 1e-12);
  EXPECT_EQ(test->degrees_of_freedom, 2u);
  EXPECT_NEAR(test->p_value, std::exp(-h / 2), 1e-12);
  // A group predicted at 0 with a YI makes the statistic infinite; one that agrees adds nothing.
  EXPECT_EQ(hosmer_lemeshow({{10, 1, 0.0}, {10, 1, 0.1}, {10, 2, 0.2}})->p_value, 0.0);
  EXPECT_NEAR(hosmer_lemeshow({{10, 0, 0.0}, {10, 1, 0.1}, {10, 2, 0.2}})->statistic, 0.0, 1e-12);
  EXPECT_FALSE(hosmer_lemeshow({{10, 1, 0.1}, {10, 2, 0.2}}));

  EXPECT_NEAR(*brier_score({0.1, 0.8, 0.5}, {false, true, true}), (0.01 + 0.04 + 0.25) / 3, 1e-15);
  EXPECT_FALSE(brier_score({}, {}));
  EXPECT_THROW(brier_score({0.1}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace vordak::pipeline
