#include "core/process_tree.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>

#include "core/child_process.h"

namespace vordak {
namespace {

// Reads the child's standard output until `lines` whole lines have come.
std::string read_lines(const RunningChild& child, int lines) {
  std::string text;
  while (std::count(text.begin(), text.end(), '\n') < lines) {
    pollfd polled = {child.output(), POLLIN, 0};
    if (::poll(&polled, 1, 60'000) <= 0) break;
    char buffer[256];
    const ssize_t n = ::read(child.output(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

bool contains(const std::vector<pid_t>& pids, pid_t pid) { return std::find(pids.begin(), pids.end(), pid) != pids.end(); }

TEST(ProcessTree, FindsAndKillsEveryDescendantEvenOutsideTheGroupAndOrphaned) {
  adopt_orphans();
  // A child in a session of its own, and an orphan whose parent (a subshell) has ended
  // before the third line.
  RunningChild child({"sh", "-c", "setsid sleep 300 & echo $!; (setsid sleep 300 & echo $!); echo; exec sleep 300"});
  const std::string text = read_lines(child, 3);
  const pid_t in_own_session = std::stoi(text);
  const pid_t orphan = std::stoi(text.substr(text.find('\n') + 1));
  const pid_t self = ::getpid();

  const std::vector<pid_t> all = descendants(self);
  for (const pid_t pid : {child.pid(), in_own_session, orphan}) {
    EXPECT_TRUE(contains(all, pid)) << pid;
    EXPECT_TRUE(running(pid)) << pid;
  }
  // Sparing the child spares what lies below it, not the orphan this process adopted.
  const std::vector<pid_t> outside = descendants(self, {child.pid()});
  EXPECT_FALSE(contains(outside, child.pid()));
  EXPECT_FALSE(contains(outside, in_own_session));
  EXPECT_TRUE(contains(outside, orphan));

  kill_until_gone([self] { return descendants(self); });
  EXPECT_TRUE(descendants(self).empty());
  for (const pid_t pid : {child.pid(), in_own_session, orphan}) EXPECT_FALSE(running(pid)) << pid;
  EXPECT_EQ(child.wait(), 128 + SIGKILL);
  reap_ended_children({});
  EXPECT_FALSE(running(0));
}

}  // namespace
}  // namespace vordak
