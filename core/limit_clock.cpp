#include "core/limit_clock.h"

namespace vordak {

namespace {

class SteadyClock : public LimitClock {
 public:
  time_point now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace

const LimitClock& LimitClock::steady() {
  static const SteadyClock clock;
  return clock;
}

}  // namespace vordak
