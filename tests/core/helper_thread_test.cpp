#include "core/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace vordak {
namespace {

using namespace std::chrono_literals;

cpu_set_t own_cpus() {
  cpu_set_t cpus;
  EXPECT_EQ(sched_getaffinity(0, sizeof cpus, &cpus), 0);
  return cpus;
}

TEST(HelperTask, GivesTheResultOrTheFailureAndAlwaysWaitsForTheWork) {
  HelperTask answer([] { return std::string("42"); });
  EXPECT_EQ(answer.get(), "42");

  HelperTask failing([]() -> int { throw std::runtime_error("disk full"); });
  try {
    failing.get();
    FAIL() << "no failure";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "disk full");
  }

  // Left without get(), as when the caller fails first: the work still ends before the
  // things it uses go.
  std::atomic<bool> done{false};
  {
    HelperTask slow([&done] {
      std::this_thread::sleep_for(50ms);
      done = true;
    });
  }
  EXPECT_TRUE(done);
}

// The helper runs beside its creator, not after it, and is pinned nowhere once it runs.
TEST(HelperThread, StartsOnAnotherCpuAndThenMayRunOnAnyOfItsCreators) {
  const cpu_set_t allowed = own_cpus();
  if (CPU_COUNT(&allowed) < 2) GTEST_SKIP() << "one CPU";
  for (int attempt = 0;; ++attempt) {
    const int creator = sched_getcpu();
    std::atomic<int> started{-1};
    cpu_set_t running{};
    HelperThread helper([&] {
      started = sched_getcpu();
      running = own_cpus();
    });
    const bool creator_stayed = sched_getcpu() == creator;
    helper.join();
    EXPECT_TRUE(CPU_EQUAL(&running, &allowed));
    // The creator may itself move while the helper starts: then try again.
    if (!creator_stayed && attempt < 20) continue;
    EXPECT_NE(started, creator);
    break;
  }
}

TEST(HelperThread, RunsWhereverTheSystemSaysWhenThereIsNoOtherCpu) {
  const cpu_set_t allowed = own_cpus();
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  cpu_set_t running{};
  HelperThread([&] { running = own_cpus(); }).join();
  EXPECT_TRUE(CPU_EQUAL(&running, &one));
  ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
}

}  // namespace
}  // namespace vordak
