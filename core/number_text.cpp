#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace vordak {

std::string python_float_repr(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";

  // The shortest round-trip digits in scientific form: [-]d[.ddd]e[+-]XX.
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string sci(buf, result.ptr);

  std::string sign;
  if (sci[0] == '-') {
    sign = "-";
    sci.erase(0, 1);
  }
  const auto e_pos = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + e_pos + 1);
  std::string digits;
  for (std::size_t i = 0; i < e_pos; ++i) {
    if (sci[i] != '.') digits += sci[i];
  }
  // Position of the decimal point relative to the first digit, as Python counts it.
  const int decpt = exponent + 1;

  std::string out;
  if (decpt > 16 || decpt < -3) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exp_buf[16];
    std::snprintf(exp_buf, sizeof exp_buf, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exp_buf;
  } else if (decpt <= 0) {
    out = "0." + std::string(static_cast<std::size_t>(-decpt), '0') + digits;
  } else if (static_cast<std::size_t>(decpt) >= digits.size()) {
    out = digits + std::string(static_cast<std::size_t>(decpt) - digits.size(), '0') + ".0";
  } else {
    out = digits.substr(0, static_cast<std::size_t>(decpt)) + "." + digits.substr(static_cast<std::size_t>(decpt));
  }
  return sign + out;
}

double round_half_even(double value, int ndigits) {
  if (!std::isfinite(value)) return value;
  // glibc's printf rounds the exact binary value, ties to even: the rounding Python's round() does.
  return std::strtod(fixed_text(value, ndigits).c_str(), nullptr);
}

std::string fixed_text(double value, int decimals) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string int_text(std::int64_t value) {
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace vordak
