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

}  // namespace
}  // namespace vordak
