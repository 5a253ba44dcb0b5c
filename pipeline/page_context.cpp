#include "pipeline/page_context.h"

#include "core/clock.h"

namespace vordak::pipeline {

std::string page_time_text(TimePoint time) { return local_time_text(time, "%d.%m.%Y %H:%M"); }

}  // namespace vordak::pipeline
