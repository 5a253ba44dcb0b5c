#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// Shortest decimal text that reads back as the same double, laid out as Python's
// repr(float) does: "42.0", "3.5", "1e+16", "1.5e-05", "nan"/"inf" for the
// non-finite values (JSON writers substitute their own tokens for those).
std::string python_float_repr(double value);

// The same text written into `out`, which must have room for kFloatTextSize characters;
// returns the end of the text. Allocation-free, for writers of large documents.
inline constexpr std::size_t kFloatTextSize = 32;
char* write_python_float(char* out, double value);
// The same text by the general route only (no fast path for amounts with cents); kept
// public so that tests can hold the fast path to it.
char* write_python_float_general(char* out, double value);

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

VORDAK_PUBLIC_END
