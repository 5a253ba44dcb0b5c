#include "motor/work_dir_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

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

TEST(WorkDirLock, APlantedLinkFifoOrSecondNameIsRefusedAndLeftUntouched) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const fs::path victim = dir / "victim";
  testing::write_text(victim, "önemli\n");
  const struct {
    const char* kind;
    std::function<void(const fs::path&)> plant;
    std::string message;
  } cases[] = {
      {"symlink", [&](const fs::path& lock) { fs::create_symlink(victim, lock); }, "kilit dosyası bir sembolik bağ: "},
      {"hard link", [&](const fs::path& lock) { fs::create_hard_link(victim, lock); },
       "kilit dosyası düzenli ve tek adlı bir dosya değil: "},
      {"fifo", [](const fs::path& lock) { ::mkfifo(lock.c_str(), 0600); },
       "kilit dosyası düzenli ve tek adlı bir dosya değil: "},
  };
  for (const auto& c : cases) {
    const fs::path work = dir / c.kind;
    fs::create_directories(work);
    c.plant(work / ".vordak.lock");
    try {
      const WorkDirLock lock(work, clock);
      ADD_FAILURE() << c.kind << ": taken";
    } catch (const std::runtime_error& refused) {
      EXPECT_EQ(refused.what(), c.message + (work / ".vordak.lock").string()) << c.kind;
    }
    EXPECT_EQ(testing::read_text(victim), "önemli\n") << c.kind;
  }
}

}  // namespace
}  // namespace vordak::motor
