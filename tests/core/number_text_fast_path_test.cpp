#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "core/number_text.h"

namespace vordak {
namespace {

std::string general(double value) {
  char buffer[kFloatTextSize];
  return std::string(buffer, write_python_float_general(buffer, value));
}

// The amounts fast path must give exactly the general route's text.
TEST(PythonFloatRepr, AmountsFastPathMatchesTheGeneralRoute) {
  const double edges[] = {0.01,  -0.01,  0.1,         0.3,          0.5,           1.0,           -2.25,
                          10.05, 1.005,  1500.7,      60000000.0,   123456.78,     999999999999.99, 1e12,
                          1e12 - 0.01, 0.015, 5e-3,   0.0,          -0.0,          2.675,         0.07};
  for (double value : edges) EXPECT_EQ(python_float_repr(value), general(value)) << general(value);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::int64_t> cents(-100000000000000LL, 100000000000000LL);
  std::uniform_real_distribution<double> any(-2e12, 2e12);
  std::uniform_int_distribution<int> exponent(-8, 14);
  for (int i = 0; i < 300000; ++i) {
    const double amount = static_cast<double>(cents(random)) / 100.0;
    ASSERT_EQ(python_float_repr(amount), general(amount)) << general(amount);
    const double other = any(random) * std::pow(10.0, exponent(random) - 12);
    ASSERT_EQ(python_float_repr(other), general(other)) << general(other);
  }
}

}  // namespace
}  // namespace vordak
