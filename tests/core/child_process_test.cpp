#include "core/child_process.h"

#include <gtest/gtest.h>

#include <chrono>

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

TEST(RunChild, KillsAndReapsAChildPastItsLimit) {
  ChildOptions options;
  options.timeout = 200ms;
  const auto start = std::chrono::steady_clock::now();
  // The grandchild holds the pipe open too; the whole group must go.
  EXPECT_THROW(run_child({"sh", "-c", "sleep 30 & sleep 30"}, options), ChildError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  options.timeout = 5s;
  EXPECT_EQ(run_child({"sh", "-c", "echo fast"}, options).out, "fast\n");
}

}  // namespace
}  // namespace vordak
