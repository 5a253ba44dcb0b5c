// The memory file system answers as the disk does: each case runs on both, and what it
// gives back (content, listing or the kind of failure) must agree.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/files.h"
#include "core/io_error.h"
#include "core/memory_env.h"
#include "test_support.h"

namespace vordak {
namespace {

// What a case gives back, or how it failed: "IoError <errno>" or "FileRefused".
std::string outcome(const std::function<std::string()>& run) {
  try {
    return run();
  } catch (const IoError& error) {
    return "IoError " + std::to_string(error.code().value());
  } catch (const FileRefused&) {
    return "FileRefused";
  }
}

std::string names(Env& env, const fs::path& dir) {
  std::vector<std::string> found;
  for (const DirEntry& entry : env.list_directory(dir)) {
    found.push_back(entry.path.filename().string() + (entry.type == fs::file_type::directory ? "/" : ""));
  }
  std::sort(found.begin(), found.end());
  std::string text;
  for (const std::string& name : found) text += name + " ";
  return text;
}

std::string status_text(Env& env, const fs::path& path) {
  const std::optional<FileStatus> found = env.status(path);
  if (!found) return "none";
  return found->type == fs::file_type::directory ? "dir" : "file " + std::to_string(found->size);
}

using Case = std::function<std::string(Env& env, const fs::path& root)>;

const std::pair<const char*, Case> kCases[] = {
    {"write, replace, read",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "a", "first");
       env.write_file_atomic(root / "a", "second");
       return env.read_file(root / "a") + " " + names(env, root);
     }},
    {"read a missing file", [](Env& env, const fs::path& root) { return env.read_file(root / "no"); }},
    {"write into a missing directory",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "no" / "a", "x");
       return std::string("written");
     }},
    {"read a directory", [](Env& env, const fs::path& root) { return env.read_file(root); }},
    {"read a directory as a regular file",
     [](Env& env, const fs::path& root) { return env.read_regular_file(root, 10); }},
    {"read a file larger than allowed",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "a", "12345");
       return env.read_regular_file(root / "a", 5) + env.read_regular_file(root / "a", 4);
     }},
    {"statuses and listing",
     [](Env& env, const fs::path& root) {
       env.create_directories(root / "d" / "e");
       env.write_file_atomic(root / "d" / "f", "abc");
       return names(env, root / "d") + status_text(env, root / "d") + " " + status_text(env, root / "d" / "f") + " " +
              status_text(env, root / "d" / "f" / "g") + " " + status_text(env, root / "x");
     }},
    {"directories over a file",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "a", "x");
       env.create_directories(root / "a" / "b");
       return std::string("made");
     }},
    {"remove files",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "a", "x");
       const bool removed = env.remove_file(root / "a");
       const bool again = env.remove_file(root / "a");
       return std::to_string(removed) + std::to_string(again) + names(env, root);
     }},
    {"remove a directory as a file", [](Env& env, const fs::path& root) {
       env.create_directories(root / "d");
       return std::to_string(env.remove_file(root / "d"));
     }},
    {"remove a tree",
     [](Env& env, const fs::path& root) {
       env.create_directories(root / "d" / "e");
       env.write_file_atomic(root / "d" / "e" / "f", "x");
       env.write_file_atomic(root / "dd", "kept");
       env.remove_tree(root / "d");
       return names(env, root);
     }},
    {"new files and directories",
     [](Env& env, const fs::path& root) {
       env.create_directory(root / "d", FileAccess::kPrivate);
       env.create_directory(root / "d", FileAccess::kPrivate);
       env.write_new_file(root / "d" / "f", "x", FileAccess::kPrivate);
       env.sync_file_system(root / "d");
       return names(env, root / "d") + outcome([&] {
                env.write_new_file(root / "d" / "f", "y", FileAccess::kPrivate);
                return std::string("twice");
              });
     }},
    {"an abandoned atomic file keeps the old content",
     [](Env& env, const fs::path& root) {
       env.write_file_atomic(root / "a", "old");
       {
         AtomicFile file(env, root / "a");
         file.write("half of a new");
       }
       return env.read_file(root / "a") + " " + names(env, root);
     }},
    {"an atomic file in pieces",
     [](Env& env, const fs::path& root) {
       AtomicFile file(env, root / "a", FileAccess::kPrivate);
       file.write("one ");
       file.write("two");
       file.commit();
       return env.read_file(root / "a") + " " + names(env, root);
     }},
    {"temporary files: a live writer's stays",
     [](Env& env, const fs::path& root) {
       std::unique_ptr<WritableFile> file = env.new_temporary_file(root / "a", FileAccess::kShared);
       const fs::path path = file->path();
       const bool live = env.remove_abandoned_file(path);
       file.reset();
       const bool abandoned = env.remove_abandoned_file(path);
       return std::to_string(live) + std::to_string(abandoned) + names(env, root);
     }},
    {"rename and sync",
     [](Env& env, const fs::path& root) {
       std::unique_ptr<WritableFile> file = env.new_temporary_file(root / "a", FileAccess::kShared);
       file->append("x");
       file->start_writeback();
       file->sync_and_close();
       env.rename_file(file->path(), root / "a");
       env.sync_directory(root);
       return env.read_file(root / "a") + " " + names(env, root);
     }},
};

TEST(MemoryEnv, AnswersAsTheDiskDoes) {
  for (const auto& [name, run] : kCases) {
    testing::TempDir dir;
    MemoryEnv memory;
    memory.create_directories(dir.path());
    const std::string on_disk = outcome([&] { return run(Env::system(), dir.path()); });
    const std::string in_memory = outcome([&] { return run(memory, dir.path()); });
    EXPECT_EQ(in_memory, on_disk) << name;
  }
}

TEST(MemoryEnv, ItsClockMovesOnlyWhenToldOrSleptOn) {
  MemoryEnv env(TimePoint(std::chrono::seconds(100)));
  env.advance(std::chrono::seconds(5));
  env.sleep_until(TimePoint(std::chrono::seconds(90)));  // never back
  EXPECT_EQ(env.now(), TimePoint(std::chrono::seconds(105)));
  env.sleep_until(TimePoint(std::chrono::seconds(200)));
  EXPECT_EQ(env.now(), TimePoint(std::chrono::seconds(200)));
  env.write_file_atomic("/a", "x");
  EXPECT_EQ(env.status("/a")->mtime_ns, __int128{200} * 1'000'000'000);
}

}  // namespace
}  // namespace vordak
