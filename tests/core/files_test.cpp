#include "core/files.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak {
namespace {

TEST(WriteFileAtomic, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  testing::TempDir dir;
  const fs::path target = dir / "a.json";
  write_file_atomic(target, "first");
  write_file_atomic(target, "second");
  EXPECT_EQ(read_file(target), "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WriteFileAtomic, AbandonedWriteKeepsTheOldFile) {
  testing::TempDir dir;
  const fs::path target = dir / "a.json";
  write_file_atomic(target, "old");
  {
    AtomicFile file(target);
    file.write("half of a new");
  }  // destroyed without commit, as when a writer fails midway
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WriteFileAtomic, NamesTheFileWhenItCannotWrite) {
  try {
    write_file_atomic("/no/such/dir/x.json", "x");
    FAIL();
  } catch (const std::runtime_error& failure) {
    EXPECT_NE(std::string(failure.what()).find("/no/such/dir/x.json"), std::string::npos);
  }
  EXPECT_THROW(read_file("/no/such/file"), std::runtime_error);
}

}  // namespace
}  // namespace vordak
