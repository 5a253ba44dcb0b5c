#include "core/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vordak {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// What the handler may touch: plain flags and a descriptor.
volatile sig_atomic_t g_pending = 0;
volatile sig_atomic_t g_wake_write = -1;
struct sigaction g_previous[2];
bool g_installed[2] = {false, false};

void on_stop_signal(int signal) {
  if (g_pending == 0) g_pending = signal;
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = ::write(g_wake_write, "!", 1);
  errno = saved;
}

[[noreturn]] void end_by(int signal) {
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

}  // namespace

StopSignalGuard::StopSignalGuard() {
  if (g_wake_write >= 0) throw std::logic_error("StopSignalGuard: one guard at a time");
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe açılamadı");
  wake_read_ = fds[0];
  g_wake_write = fds[1];
  g_pending = 0;
  struct sigaction handler = {};
  handler.sa_handler = on_stop_signal;
  sigemptyset(&handler.sa_mask);
  for (int i = 0; i < 2; ++i) {
    ::sigaction(kStopSignals[i], nullptr, &g_previous[i]);
    g_installed[i] = g_previous[i].sa_handler != SIG_IGN;
    if (g_installed[i]) ::sigaction(kStopSignals[i], &handler, nullptr);
  }
}

StopSignalGuard::~StopSignalGuard() {
  for (int i = 0; i < 2; ++i) {
    if (g_installed[i]) ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  ::close(g_wake_write);
  ::close(wake_read_);
  g_wake_write = -1;
  if (g_pending != 0) end_by(g_pending);
}

int StopSignalGuard::pending() const { return g_pending; }

void StopSignalGuard::die() const { end_by(g_pending != 0 ? g_pending : SIGTERM); }

}  // namespace vordak
