#include "motor/work_dir_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace vordak::motor {
namespace {

TEST(WorkDirLock, ASecondHolderIsRefusedWithTheFirstNamedUntilItLetsGo) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const fs::path work = dir / "work";
  EXPECT_THROW(WorkDirLock(work, clock), std::runtime_error) << "no working directory";
  fs::create_directories(work);
  {
    const WorkDirLock first(work, clock);
    try {
      const WorkDirLock second(work, clock);
      ADD_FAILURE() << "a second lock was granted";
    } catch (const WorkDirBusy& busy) {
      EXPECT_EQ(std::string(busy.what()), "çalışma dizini başka bir çalıştırmada: " + work.string() + " (pid " +
                                              std::to_string(::getpid()) + ", host " + [] {
                                                char name[256] = {};
                                                ::gethostname(name, sizeof name - 1);
                                                return std::string(name);
                                              }() + ", başlangıç 2025-03-01T14:15:02)");
    }
  }
  EXPECT_TRUE(fs::is_empty(work)) << "a finished holder leaves nothing behind";
  const WorkDirLock again(work, clock);
  EXPECT_EQ(testing::read_text(again.path()).substr(0, 4), "pid ");
}

}  // namespace
}  // namespace vordak::motor
