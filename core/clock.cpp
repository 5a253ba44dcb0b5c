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

// "+03:00" for a local time whose tm_gmtoff is 10800.
std::string offset_text(long gmtoff) {
  const char sign = gmtoff < 0 ? '-' : '+';
  // Zones lie within a day of UTC.
  const int minutes = static_cast<int>((gmtoff < 0 ? -gmtoff : gmtoff) / 60 % (24 * 60));
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", sign, minutes / 60, minutes % 60);
  return text;
}

std::string iso_offset_of(const std::tm& local) {
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
  return buf + offset_text(local.tm_gmtoff);
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

std::string iso_offset_text(TimePoint time) {
  const std::time_t whole = split(time).first;
  std::tm local{};
  ::localtime_r(&whole, &local);
  return iso_offset_of(local);
}

std::optional<std::string> iso_offset_text(const std::string& timestamp) {
  std::tm local{};
  const char* end = ::strptime(timestamp.c_str(), "%Y%m%d_%H%M%S", &local);
  if (timestamp.size() != 15 || end == nullptr || *end != '\0') return std::nullopt;
  local.tm_isdst = -1;  // as the zone had it on that day
  if (::mktime(&local) == static_cast<std::time_t>(-1)) return std::nullopt;
  return iso_offset_of(local);
}

}  // namespace vordak
