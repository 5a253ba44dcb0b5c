#include "core/huge_page_heap.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vordak {
namespace {

TEST(HugePageHeap, AddsTheTunableBesideTheOperatorsAndNeverOverridesTheirChoice) {
  EXPECT_EQ(tunables_with_huge_pages(nullptr), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(tunables_with_huge_pages(""), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(tunables_with_huge_pages("glibc.malloc.arena_max=2"), "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
  // Set already, either way: the restart is not needed (and would never end).
  EXPECT_EQ(tunables_with_huge_pages("glibc.malloc.hugetlb=0"), std::nullopt);
  EXPECT_EQ(tunables_with_huge_pages("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"), std::nullopt);
}

TEST(HugePageHeap, ARestartedProgramGoesOnWithItsEnvironmentUntouched) {
  ASSERT_EQ(::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=0", 1), 0);
  restart_with_huge_page_heap();  // returns: the operator chose
  EXPECT_STREQ(std::getenv("GLIBC_TUNABLES"), "glibc.malloc.hugetlb=0");
  ::unsetenv("GLIBC_TUNABLES");
}

}  // namespace
}  // namespace vordak
