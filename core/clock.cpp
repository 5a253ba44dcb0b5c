#include "core/clock.h"

#include <cstdio>
#include <ctime>

namespace vordak {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::seconds;

std::string format_local(std::time_t whole_seconds, const char* format) {
  std::tm local{};
  ::localtime_r(&whole_seconds, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &local);
  return buf;
}

// Whole seconds and the microseconds after them; floor, so that times before the epoch
// keep a non-negative fraction.
std::pair<std::time_t, long> split(TimePoint time) {
  const auto micros = duration_cast<microseconds>(time.time_since_epoch()).count();
  std::time_t whole = static_cast<std::time_t>(micros / 1000000);
  long fraction = static_cast<long>(micros % 1000000);
  if (fraction < 0) {
    fraction += 1000000;
    --whole;
  }
  return {whole, fraction};
}

}  // namespace

double epoch_seconds(TimePoint time) {
  return static_cast<double>(duration_cast<microseconds>(time.time_since_epoch()).count()) / 1e6;
}

std::string timestamp_text(TimePoint time) { return local_time_text(time, "%Y%m%d_%H%M%S"); }

std::string local_time_text(TimePoint time, const char* format) { return format_local(split(time).first, format); }

std::string iso_text(TimePoint time) {
  const auto [whole, micros] = split(time);
  std::string text = format_local(whole, "%Y-%m-%dT%H:%M:%S");
  if (micros != 0) {
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%06ld", micros);
    text += digits;
  }
  return text;
}

}  // namespace vordak
