#pragma once

#include <cstdint>
#include <string>

namespace vordak {

// Shortest decimal text that reads back as the same double, laid out as Python's
// repr(float) does: "42.0", "3.5", "1e+16", "1.5e-05", "nan"/"inf" for the
// non-finite values (JSON writers substitute their own tokens for those).
std::string python_float_repr(double value);

// Rounds to `ndigits` decimals: nearest value, a tie going to the even digit as
// judged on the exact binary value (round(0.25, 1) == 0.2, round(2.675, 2) == 2.67).
// Non-finite values come back unchanged.
double round_half_even(double value, int ndigits);

// Fixed notation with exactly `decimals` digits after the point, correctly rounded
// on the exact binary value with ties to even ("%.1f").
std::string fixed_text(double value, int decimals);

// Decimal text of an integer.
std::string int_text(std::int64_t value);

}  // namespace vordak
