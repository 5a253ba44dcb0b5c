#include "core/clock.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace vordak {

namespace {

std::string format_local(const timeval& now, const char* format) {
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &local);
  return buf;
}

timeval now() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return tv;
}

}  // namespace

double epoch_seconds() {
  const timeval tv = now();
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

std::string local_timestamp() { return format_local(now(), "%Y%m%d_%H%M%S"); }

std::string local_iso_now() {
  const timeval tv = now();
  std::string text = format_local(tv, "%Y-%m-%dT%H:%M:%S");
  if (tv.tv_usec != 0) {
    char micros[16];
    std::snprintf(micros, sizeof micros, ".%06ld", static_cast<long>(tv.tv_usec));
    text += micros;
  }
  return text;
}

}  // namespace vordak
