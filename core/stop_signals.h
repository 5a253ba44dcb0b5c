#pragma once

// SIGINT and SIGTERM held back while a clean-up must come first. While a StopSignalGuard
// lives, either signal is only recorded and wake_fd() turns readable (for a poll loop to
// notice); the owner stops what it must and calls die(), which ends the process as the
// signal would have (exit status 130 or 143 in a shell). Outside a guard the signals keep
// their usual disposition. A signal the process ignores (a background job's SIGINT) stays
// ignored. One guard at a time.

namespace vordak {

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
