#pragma once

// The monotonic clock that time limits are measured on. The engine uses the steady
// clock; a test passes one it moves itself, so that no limit makes it wait real seconds.

#include <chrono>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class LimitClock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  virtual ~LimitClock() = default;
  // Safe to call from any thread.
  virtual time_point now() const = 0;

  // std::chrono::steady_clock.
  static const LimitClock& steady();
};

}  // namespace vordak

VORDAK_PUBLIC_END
