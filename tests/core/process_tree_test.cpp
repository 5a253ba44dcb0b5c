#include "core/process_tree.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

namespace vordak {
namespace {

// The exit status of a process forked to run `body`.
int in_child(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WEXITSTATUS(status);
}

TEST(ProcessTree, AncestorsAreFoundUpTheParentLinksAndNothingElse) {
  const pid_t self = ::getpid();
  EXPECT_TRUE(is_ancestor(::getppid()));
  EXPECT_FALSE(is_ancestor(self)) << "a process is not its own ancestor";
  // Two generations below, this process is found; a sibling is not.
  EXPECT_EQ(in_child([self] { return in_child([self] { return is_ancestor(self) ? 0 : 1; }); }), 0);
  const pid_t sibling = ::fork();
  if (sibling == 0) {
    ::pause();
    ::_exit(0);
  }
  EXPECT_EQ(in_child([sibling] { return is_ancestor(sibling) ? 1 : 0; }), 0);
  ::kill(sibling, SIGKILL);
  // Ended and not yet reaped, it is still there.
  for (std::optional<ProcessEntry> entry; (entry = process_entry(sibling)) && !entry->ended;) {
  }
  ASSERT_TRUE(process_entry(sibling).has_value());
  EXPECT_EQ(process_entry(sibling)->parent, self);
  ::waitpid(sibling, nullptr, 0);
  EXPECT_FALSE(process_entry(sibling).has_value());
}

}  // namespace
}  // namespace vordak
