#include "core/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>

namespace vordak {
namespace {

bool readable(int fd) {
  pollfd polled = {fd, POLLIN, 0};
  return ::poll(&polled, 1, 0) == 1;
}

TEST(StopSignalGuard, HoldsASignalBackUntilTheOwnerEndsTheProcessByIt) {
  for (const int signal : {SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          const StopSignalGuard guard;
          if (guard.pending() != 0 || readable(guard.wake_fd())) std::_Exit(1);
          std::raise(signal);
          // Still running: the signal is only recorded, and the poll loop is woken.
          if (guard.pending() != signal || !readable(guard.wake_fd())) std::_Exit(2);
          guard.die();
        },
        ::testing::KilledBySignal(signal), "")
        << signal;
  }
  // A guard that ends with a signal recorded and not acted on ends the process too.
  EXPECT_EXIT(
      {
        { const StopSignalGuard guard; std::raise(SIGTERM); }
        std::_Exit(3);
      },
      ::testing::KilledBySignal(SIGTERM), "");
}

TEST(StopSignalGuard, LeavesIgnoredSignalsIgnoredAndRestoresTheDisposition) {
  EXPECT_EXIT(
      {
        std::signal(SIGINT, SIG_IGN);
        { const StopSignalGuard guard; std::raise(SIGINT); if (guard.pending() != 0) std::_Exit(1); }
        if (std::signal(SIGINT, SIG_DFL) != SIG_IGN) std::_Exit(2);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  { const StopSignalGuard guard; }
  EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL) << "the default is back after the guard";
}

}  // namespace
}  // namespace vordak
