#include "pipeline/page_context.h"

#include <ctime>

namespace vordak::pipeline {

std::string page_time_text(TimePoint time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &local);
  return text;
}

}  // namespace vordak::pipeline
