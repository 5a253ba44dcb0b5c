#include "core/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace vordak {
namespace {

TEST(PythonFloatRepr, MatchesPythonLayoutAcrossMagnitudes) {
  const std::pair<double, const char*> cases[] = {
      {42.0, "42.0"},           {3.5, "3.5"},
      {0.1, "0.1"},             {-2.25, "-2.25"},
      {0.0, "0.0"},             {-0.0, "-0.0"},
      {1e15, "1000000000000000.0"}, {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},      {123456789012345678.0, "1.2345678901234568e+17"},
      {0.0001, "0.0001"},       {0.00001, "1e-05"},
      {1.5e-7, "1.5e-07"},      {1e100, "1e+100"},
      {5e-324, "5e-324"},       {1.7976931348623157e308, "1.7976931348623157e+308"},
      {0.30000000000000004, "0.30000000000000004"}, {123.456, "123.456"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(python_float_repr(value), expected) << expected;
  EXPECT_EQ(python_float_repr(std::nan("")), "nan");
  EXPECT_EQ(python_float_repr(-std::numeric_limits<double>::infinity()), "-inf");
}

// The significant digits of a decimal text, without sign, point, exponent or the zeros
// around them.
std::string significant_digits(const std::string& text) {
  std::string digits;
  for (const char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9') digits += c;
  }
  digits.erase(0, digits.find_first_not_of('0'));
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

// Independently of how the text is made: it reads back as the same double, and no
// text with fewer significant digits does (printf's correctly rounded %.*e is the judge).
TEST(PythonFloatRepr, ReadsBackExactlyWithTheFewestDigits) {
  std::mt19937_64 random(11);
  std::uniform_int_distribution<std::int64_t> cents(-10000000000LL, 10000000000LL);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    double value = 0;
    if (i % 2 == 0) {
      value = static_cast<double>(cents(random)) / 100.0;
    } else {
      const std::uint64_t pattern = bits(random);
      std::memcpy(&value, &pattern, sizeof value);
      if (!std::isfinite(value)) continue;
    }
    const std::string text = python_float_repr(value);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    if (value == 0) continue;
    std::size_t fewest = 17;
    for (int precision = 1; precision <= 17; ++precision) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
      if (std::strtod(buffer, nullptr) == value) {
        fewest = significant_digits(buffer).size();
        break;
      }
    }
    ASSERT_EQ(significant_digits(text).size(), fewest) << text;
  }
}

TEST(RoundHalfEven, JudgesTiesOnTheExactBinaryValue) {
  EXPECT_EQ(round_half_even(0.25, 1), 0.2);   // exact tie, to even
  EXPECT_EQ(round_half_even(0.35, 1), 0.3);   // 0.35 is stored just below the tie
  EXPECT_EQ(round_half_even(2.675, 2), 2.67);
  EXPECT_EQ(round_half_even(0.75, 1), 0.8);
  EXPECT_EQ(round_half_even(-0.25, 1), -0.2);
  EXPECT_EQ(round_half_even(2.5, 0), 2.0);
  EXPECT_EQ(round_half_even(1.23456789, 4), 1.2346);
  EXPECT_TRUE(std::isinf(round_half_even(std::numeric_limits<double>::infinity(), 1)));
}

TEST(FixedText, RoundsToEvenOnTies) {
  EXPECT_EQ(fixed_text(0.04, 1), "0.0");
  EXPECT_EQ(fixed_text(0.25, 1), "0.2");
  EXPECT_EQ(fixed_text(1.5, 0), "2");
  EXPECT_EQ(fixed_text(12.0, 1), "12.0");
}

}  // namespace
}  // namespace vordak
