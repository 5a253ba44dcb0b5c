// Every number in the JSON outputs is written by our own float text. For every double,
// the fast path agrees with the general route, and the text reads back as the same value.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/number_text.h"

using namespace vordak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(double)) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  char fast[kFloatTextSize], general[kFloatTextSize];
  const std::string fast_text(fast, write_python_float(fast, value));
  const std::string general_text(general, write_python_float_general(general, value));
  if (fast_text != general_text) std::abort();
  if (std::isfinite(value) && std::strtod(fast_text.c_str(), nullptr) != value) std::abort();
  // Amounts with cents take the fast path: the same holds for them.
  const double cents = std::round(value * 100) / 100;
  if (std::isfinite(cents)) {
    const std::string a(fast, write_python_float(fast, cents));
    const std::string b(general, write_python_float_general(general, cents));
    if (a != b || std::strtod(a.c_str(), nullptr) != cents) std::abort();
  }
  return 0;
}
