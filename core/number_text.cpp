#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace vordak {

namespace {

// Values with at most two decimals below 10^12 (amounts of money): the decimal k/100 is
// then the only one with so few decimals inside the double's rounding interval (its
// width is below 2^-12), so its trimmed digits are the shortest round-trip text, and
// the magnitude keeps Python's layout positional. nullptr when the value is not such.
char* write_cents(char* out, double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 0.01 && magnitude < 1e12)) return nullptr;
  const double scaled = std::nearbyint(value * 100.0);
  if (scaled / 100.0 != value) return nullptr;
  auto cents = static_cast<std::int64_t>(scaled);
  if (cents < 0) {
    *out++ = '-';
    cents = -cents;
  }
  out = std::to_chars(out, out + 24, cents / 100).ptr;
  *out++ = '.';
  const int fraction = static_cast<int>(cents % 100);
  *out++ = static_cast<char>('0' + fraction / 10);
  if (fraction % 10 != 0) *out++ = static_cast<char>('0' + fraction % 10);
  return out;
}

}  // namespace

char* write_python_float(char* out, double value) {
  if (char* end = write_cents(out, value)) return end;
  return write_python_float_general(out, value);
}

char* write_python_float_general(char* out, double value) {
  auto put = [&out](const char* text) {
    while (*text != '\0') *out++ = *text++;
  };
  if (std::isnan(value)) {
    put("nan");
    return out;
  }
  if (std::isinf(value)) {
    put(value > 0 ? "inf" : "-inf");
    return out;
  }

  // The shortest round-trip digits in scientific form: [-]d[.ddd]e[+-]XX.
  char sci[64];
  const char* const sci_end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  const char* p = sci;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  char digits[32];
  int count = 0;
  for (; p < sci_end && *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  ++p;  // 'e'
  const bool negative_exponent = *p == '-';
  ++p;  // exponent sign
  int magnitude = 0;
  for (; p < sci_end; ++p) magnitude = magnitude * 10 + (*p - '0');
  const int exponent = negative_exponent ? -magnitude : magnitude;
  // Position of the decimal point relative to the first digit, as Python counts it.
  const int decpt = exponent + 1;

  if (decpt > 16 || decpt < -3) {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      for (int i = 1; i < count; ++i) *out++ = digits[i];
    }
    *out++ = 'e';
    *out++ = negative_exponent ? '-' : '+';
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
  } else if (decpt <= 0) {
    *out++ = '0';
    *out++ = '.';
    for (int i = 0; i < -decpt; ++i) *out++ = '0';
    for (int i = 0; i < count; ++i) *out++ = digits[i];
  } else if (decpt >= count) {
    for (int i = 0; i < count; ++i) *out++ = digits[i];
    for (int i = count; i < decpt; ++i) *out++ = '0';
    *out++ = '.';
    *out++ = '0';
  } else {
    for (int i = 0; i < decpt; ++i) *out++ = digits[i];
    *out++ = '.';
    for (int i = decpt; i < count; ++i) *out++ = digits[i];
  }
  return out;
}

std::string python_float_repr(double value) {
  char buffer[kFloatTextSize];
  return std::string(buffer, write_python_float(buffer, value));
}

namespace {

// Room for the largest double in fixed notation (309 digits) with the few decimals asked for.
constexpr std::size_t kFixedTextSize = 400;

// std::to_chars with a precision writes what printf's "%.*f" writes (the exact binary
// value, ties to even), several times faster: a mart run rounds millions of values.
char* write_fixed(char* out, double value, int decimals) {
  return std::to_chars(out, out + kFixedTextSize, value, std::chars_format::fixed, decimals).ptr;
}

}  // namespace

double round_half_even(double value, int ndigits) {
  if (!std::isfinite(value)) return value;
  char text[kFixedTextSize];
  const char* end = write_fixed(text, value, ndigits);
  double rounded = value;
  std::from_chars(text, end, rounded);
  return rounded;
}

std::string fixed_text(double value, int decimals) {
  char text[kFixedTextSize];
  return std::string(text, write_fixed(text, value, decimals));
}

std::string int_text(std::int64_t value) {
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace vordak
