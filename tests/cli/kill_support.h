#pragma once

// Killing the built `vordak` binary at chosen moments, for the kill tests. A moment is a
// number of lines of its output and a delay after them: the tests wait on the output,
// never on a clock alone.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace vordak::testing {

// The whole number in the environment variable `name`; `fallback` when it is unset or empty.
inline long env_setting(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

// Starts VORDAK_BINARY with `args`, lets it print `lines` lines, waits `extra` more (or until
// it ends), and kills it with SIGKILL.
inline void run_and_kill(const std::vector<std::string>& args, std::size_t lines, std::chrono::milliseconds extra) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    std::vector<char*> argv = {const_cast<char*>(VORDAK_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(VORDAK_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  using Clock = std::chrono::steady_clock;
  std::size_t seen = 0;
  std::optional<Clock::time_point> deadline;
  while (true) {
    if (!deadline && seen >= lines) deadline = Clock::now() + extra;
    int wait_ms = -1;
    if (deadline) {
      wait_ms = static_cast<int>(
          std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count()));
    }
    pollfd polled{out[0], POLLIN, 0};
    if (::poll(&polled, 1, wait_ms) == 0) break;  // the moment has come
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;  // the run ended before the moment
    seen += static_cast<std::size_t>(std::count(buffer, buffer + n, '\n'));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(out[0]);
}

}  // namespace vordak::testing
