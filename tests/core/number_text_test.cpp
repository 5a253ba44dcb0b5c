#include "core/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
