#include "core/env.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/files.h"
#include "core/output_set.h"
#include "test_support.h"

namespace vordak {
namespace {

using vordak::testing::TempDir;
using vordak::testing::write_text;

// What status() says of a path, nothing when it cannot be read.
std::optional<FileStatus> one_status(const std::string& path) {
  try {
    return Env::system().status(path);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

TEST(EnvStatuses, SayOfEveryPathWhatStatusSays) {
  TempDir dir;
  fs::create_directories(dir / "a" / "b");
  write_text(dir / "a" / "one.csv", "1");
  write_text(dir / "a" / "b" / "two.csv", "22");
  write_text(dir / "three.csv", "333");
  fs::create_symlink(dir / "a" / "b", dir / "link");
  fs::create_symlink(dir / "gone", dir / "dangling");
  const std::string root = dir.path().string();
  // Directories alternate, so each is opened again; some paths have no name to look up.
  const std::vector<std::string> paths = {
      root + "/a/one.csv",    root + "/a/b/two.csv",  root + "/a/one.csv",        root + "/three.csv",
      root + "/a/missing",    root + "/nowhere/x",    root + "/three.csv/x",      root + "/link/two.csv",
      root + "/dangling",     root + "/a/b/",         root + "/a",                std::string("/"),
      "",                     root + "/a/one.csv",    root + std::string("/a\0/b", 5)};
  const std::vector<std::string_view> views(paths.begin(), paths.end());
  const std::vector<std::optional<FileStatus>> found = Env::system().statuses(views);
  ASSERT_EQ(found.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::optional<FileStatus> expected = one_status(paths[i]);
    ASSERT_EQ(found[i].has_value(), expected.has_value()) << paths[i];
    if (!expected) continue;
    EXPECT_EQ(found[i]->type, expected->type) << paths[i];
    EXPECT_EQ(found[i]->size, expected->size) << paths[i];
    EXPECT_TRUE(found[i]->mtime_ns == expected->mtime_ns) << paths[i];
  }
  EXPECT_EQ(found[1]->size, 2u);
  EXPECT_EQ(found[7]->size, 2u);  // through the link
  EXPECT_FALSE(found[4] || found[5] || found[6] || found[8]);
}

TEST(EnvStatuses, FindFilesThatAreThereWhenNoDescriptorIsLeft) {
  TempDir dir;
  write_text(dir / "there.csv", "55555");
  const std::vector<std::string> names = {(dir / "there.csv").string(), (dir / "not-there.csv").string(),
                                          dir.path().string() + "/"};
  const std::vector<std::string_view> paths(names.begin(), names.end());
  // Asked first with descriptors to spare: the undefined-behaviour sanitizer's type check
  // needs one the first time it meets each call.
  const std::vector<std::optional<FileStatus>> spare = Env::system().statuses(paths);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  // The lowest free descriptor as the limit: no new one can be opened.
  const int lowest_free = ::dup(0);
  ASSERT_GE(lowest_free, 0);
  ::close(lowest_free);
  rlimit none = before;
  none.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  const std::vector<std::optional<FileStatus>> found = Env::system().statuses(paths);
  ::setrlimit(RLIMIT_NOFILE, &before);
  ASSERT_TRUE(spare[0] && found[0]);
  EXPECT_EQ(found[0]->size, 5u);
  EXPECT_TRUE(found[0]->mtime_ns == spare[0]->mtime_ns);
  EXPECT_FALSE(spare[1] || found[1]);
  EXPECT_TRUE(spare[2] && found[2] && found[2]->type == fs::file_type::directory);
}

TEST(EnvStatuses, ReadNamesWithoutADirectoryFromTheWorkingOne) {
  TempDir dir;
  write_text(dir / "here.csv", "4444");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const std::vector<std::string_view> names = {"here.csv", "absent.csv"};
  const std::vector<std::optional<FileStatus>> found = Env::system().statuses(names);
  fs::current_path(before);
  ASSERT_TRUE(found[0]);
  EXPECT_EQ(found[0]->size, 4u);
  EXPECT_FALSE(found[1]);
}

}  // namespace
}  // namespace vordak

namespace vordak::testing {
namespace {

mode_t mode_of(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 0777;
}

// Outputs holding customer data keep other users out; a stricter umask takes away more.
TEST(EnvAccess, PrivateFilesAndFoldersKeepOthersOutAndHonourAStricterUmask) {
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    SCOPED_TRACE(mask);
    const mode_t before = ::umask(mask);
    TempDir dir;
    Env& env = Env::system();
    env.create_directory(dir / "veri", FileAccess::kPrivate);
    env.create_directory(dir / "veri", FileAccess::kPrivate);  // already there: no error
    env.write_new_file(dir / "veri" / "f-0.js", "x", FileAccess::kPrivate);
    EXPECT_THROW(env.write_new_file(dir / "veri" / "f-0.js", "y", FileAccess::kPrivate), std::runtime_error);
    env.sync_file_system(dir / "veri");
    {
      OutputSet outputs(env, dir / ".journal");
      outputs.add(dir / "private.json", FileAccess::kPrivate).append("{}");
      outputs.add(dir / "shared.json").append("{}");
      outputs.publish();
    }
    AtomicFile page(env, dir / "page.html", FileAccess::kPrivate);
    page.write("<html>");
    page.commit();
    ::umask(before);
    EXPECT_EQ(mode_of(dir / "veri"), 0750 & ~mask);
    EXPECT_EQ(mode_of(dir / "veri" / "f-0.js"), 0640 & ~mask);
    EXPECT_EQ(read_text(dir / "veri" / "f-0.js"), "x");
    EXPECT_EQ(mode_of(dir / "private.json"), 0640 & ~mask);
    EXPECT_EQ(mode_of(dir / "page.html"), 0640 & ~mask);
    EXPECT_EQ(mode_of(dir / "shared.json"), 0666 & ~mask);
  }
}

}  // namespace
}  // namespace vordak::testing
