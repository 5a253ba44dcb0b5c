#pragma once

// SIGINT and SIGTERM held back while a clean-up must come first. While a StopSignalGuard
// lives, either signal is only recorded and wake_fd() turns readable (for a poll loop to
// notice); the owner stops what it must and calls die(), which ends the process as the
// signal would have (exit status 130 or 143 in a shell). Outside a guard the signals keep
// their usual disposition. A signal the process ignores (a background job's SIGINT) stays
// ignored. Guards nest: an inner one (a notebook's) shares the outer one's (a whole
// run's) record and pipe.

#include <functional>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// Called once, with the signal, just before a recorded signal ends the process: the
// place for a last line. Runs in normal context, never in the handler.
void set_stop_notice(std::function<void(int signal)> notice);

// Ends the process when a guard has recorded a signal; for the points between pieces of
// work where stopping is safe.
void stop_if_signalled();

class StopSignalGuard {
 public:
  StopSignalGuard();
  // Restores the previous dispositions; a signal recorded but not acted on ends the process.
  ~StopSignalGuard();
  StopSignalGuard(const StopSignalGuard&) = delete;
  StopSignalGuard& operator=(const StopSignalGuard&) = delete;

  int wake_fd() const { return wake_read_; }
  // The signal that arrived, 0 while none did.
  int pending() const;
  // Ends the process by the signal that arrived.
  [[noreturn]] void die() const;

 private:
  int wake_read_ = -1;
};

}  // namespace vordak

VORDAK_PUBLIC_END
