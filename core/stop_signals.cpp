#include "core/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <stdexcept>

namespace vordak {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// What the handler may touch: plain flags and a descriptor.
volatile sig_atomic_t g_pending = 0;
volatile sig_atomic_t g_wake_write = -1;
struct sigaction g_previous[2];
bool g_installed[2] = {false, false};
int g_depth = 0;   // guards alive
int g_wake_read = -1;
std::function<void(int)> g_notice;

void on_stop_signal(int signal) {
  if (g_pending == 0) g_pending = signal;
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = ::write(g_wake_write, "!", 1);
  errno = saved;
}

[[noreturn]] void end_by(int signal) {
  if (g_notice) {
    const std::function<void(int)> notice = std::move(g_notice);
    g_notice = nullptr;
    try {
      notice(signal);
    } catch (...) {
      // The process ends by its signal whatever its last line could do.
    }
  }
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
  if (g_depth++ > 0) {
    wake_read_ = g_wake_read;
    return;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    --g_depth;
    throw std::runtime_error("pipe açılamadı");
  }
  wake_read_ = g_wake_read = fds[0];
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
  if (--g_depth > 0) {
    if (g_pending != 0) end_by(g_pending);
    return;
  }
  for (int i = 0; i < 2; ++i) {
    if (g_installed[i]) ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  ::close(g_wake_write);
  ::close(wake_read_);
  g_wake_write = -1;
  g_wake_read = -1;
  if (g_pending != 0) end_by(g_pending);
}

int StopSignalGuard::pending() const { return g_pending; }

void StopSignalGuard::die() const { end_by(g_pending != 0 ? g_pending : SIGTERM); }

void set_stop_notice(std::function<void(int)> notice) { g_notice = std::move(notice); }

void stop_if_signalled() {
  if (g_pending != 0) end_by(g_pending);
}

}  // namespace vordak
