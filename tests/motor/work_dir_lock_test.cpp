#include "motor/work_dir_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "core/io_error.h"
#include "test_support.h"

namespace vordak::motor {
namespace {

TEST(WorkDirLock, ASecondHolderIsRefusedWithTheFirstNamedUntilItLetsGo) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const fs::path work = dir / "work";
  try {
    const WorkDirLock none(work, clock);
    ADD_FAILURE() << "locked a working directory that does not exist";
  } catch (const IoError& missing) {
    EXPECT_EQ(missing.path(), work);
    EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
  }
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

TEST(WorkDirLock, APlantedLinkFifoOrSecondNameIsRefusedAndLeftUntouched) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const fs::path victim = dir / "victim";
  testing::write_text(victim, "önemli\n");
  const std::pair<const char*, std::function<void(const fs::path&)>> cases[] = {
      {"symlink", [&](const fs::path& lock) { fs::create_symlink(victim, lock); }},
      {"hard link", [&](const fs::path& lock) { fs::create_hard_link(victim, lock); }},
      {"fifo", [](const fs::path& lock) { ::mkfifo(lock.c_str(), 0600); }},
  };
  for (const auto& [kind, plant] : cases) {
    const fs::path work = dir / kind;
    fs::create_directories(work);
    plant(work / ".vordak.lock");
    try {
      const WorkDirLock lock(work, clock);
      ADD_FAILURE() << kind << ": taken";
    } catch (const FileRefused& refused) {
      EXPECT_EQ(refused.path(), work / ".vordak.lock") << kind;
    }
    EXPECT_EQ(testing::read_text(victim), "önemli\n") << kind;
  }
}

}  // namespace
}  // namespace vordak::motor
