#include "core/child_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "test_support.h"

namespace vordak {
namespace {

using namespace std::chrono_literals;

TEST(RunChild, CapturesOutputAndExitStatusWithoutAShell) {
  const ChildResult result = run_child({"sh", "-c", "printf 'out'; printf 'err' >&2; exit 3"});
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err");
  // An argument is passed as it is, never interpreted.
  EXPECT_EQ(run_child({"printf", "%s", "$(echo hi); `x`"}).out, "$(echo hi); `x`");
}

TEST(RunChild, RunsInTheGivenDirectory) {
  ChildOptions options;
  options.cwd = "/tmp";
  EXPECT_EQ(run_child({"pwd"}, options).out, "/tmp\n");
}

TEST(RunChild, ReportsAProgramThatCannotStart) {
  EXPECT_THROW(run_child({"vordak-no-such-program"}), ChildError);
  ChildOptions options;
  options.cwd = "/no/such/dir";
  EXPECT_THROW(run_child({"true"}, options), ChildError);
}

TEST(RunChild, KillsAndReapsAChildPastItsLimitOnTheGivenClock) {
  const testing::HurryingClock clock;
  ChildOptions options;
  options.timeout = 5s;
  options.clock = &clock;
  const auto start = std::chrono::steady_clock::now();
  // The grandchild holds the pipe open too; the whole group must go.
  EXPECT_THROW(run_child({"sh", "-c", "sleep 30 & sleep 30"}, options), ChildError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "the limit is measured on the given clock";
  options.clock = &LimitClock::steady();
  EXPECT_EQ(run_child({"sh", "-c", "echo fast"}, options).out, "fast\n");
}

// Everything a RunningChild writes on one stream until it closes it.
std::string read_all(int fd) {
  std::string text;
  while (true) {
    pollfd polled = {fd, POLLIN, 0};
    if (::poll(&polled, 1, 60'000) <= 0) return text;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
}

TEST(RunningChild, TalksOverItsStreamsAndSurvivesAChildThatStoppedReading) {
  RunningChild child({"sh", "-c", "read line; echo \"got $line\"; echo note >&2; pwd"}, "/tmp");
  EXPECT_TRUE(child.send("istek\n"));
  EXPECT_EQ(read_all(child.output()), "got istek\n/tmp\n");
  EXPECT_EQ(read_all(child.error()), "note\n");
  EXPECT_EQ(child.wait(), 0);
  // The child has gone: writing fails instead of raising SIGPIPE in this process.
  EXPECT_FALSE(child.send("sonraki\n"));

  EXPECT_THROW(RunningChild({"vordak-no-such-program"}), ChildError);
}

TEST(RunningChild, LeadsItsOwnProcessGroupAndIsKilledWhenDropped) {
  pid_t pid = 0;
  {
    RunningChild child({"sleep", "300"});
    pid = child.pid();
    EXPECT_EQ(::getpgid(pid), pid);
  }
  EXPECT_NE(::kill(pid, 0), 0) << "killed and reaped";
}

}  // namespace
}  // namespace vordak
