#pragma once

// A whole Env in memory: a file system of directories and regular files, and a clock
// that moves only when told or slept on. For tests of logic that needs files but not a
// disk: nothing it writes outlives it, and no test waits on real time.

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "core/env.h"

namespace vordak {

class MemoryEnv : public Env {
 public:
  // The file system holds only "/" at first; the clock reads `start`.
  explicit MemoryEnv(TimePoint start = TimePoint());

  // Moves the clock on.
  void advance(std::chrono::nanoseconds by);

  TimePoint now() override;
  // Moves the clock to `deadline` at once (never back).
  void sleep_until(TimePoint deadline) override;
  std::optional<FileStatus> status(const fs::path& path) override;
  std::vector<DirEntry> list_directory(const fs::path& dir) override;
  void create_directories(const fs::path& dir) override;
  std::string read_file(const fs::path& path) override;
  std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) override;
  void write_file_atomic(const fs::path& path, std::string_view content) override;
  bool remove_file(const fs::path& path) override;
  void remove_tree(const fs::path& dir) override;
  // Access is not modelled: every file is readable by its reader.
  std::unique_ptr<WritableFile> new_temporary_file(const fs::path& target, FileAccess access) override;
  void rename_file(const fs::path& from, const fs::path& to) override;
  void sync_directory(const fs::path& dir) override;
  bool remove_abandoned_file(const fs::path& path) override;
  void create_directory(const fs::path& dir, FileAccess access) override;
  void write_new_file(const fs::path& path, std::string_view content, FileAccess access) override;
  void sync_file_system(const fs::path& path) override;

 private:
  class TemporaryFile;
  struct Node {
    bool directory = false;
    std::string content;
    __int128 mtime_ns = 0;
  };

  // What follow need `mutex_` held.
  // The node at a normalised path, or null.
  Node* find(const std::string& key);
  // The directory that is to hold `key`; throws IoError for `path` when there is none.
  void require_parent(const std::string& key, const fs::path& path, const char* what);
  void put_file(const std::string& key, std::string content);
  __int128 now_ns() const;

  std::mutex mutex_;
  TimePoint now_;
  std::map<std::string, Node> nodes_;  // by normalised absolute path
  std::set<std::string> open_temporaries_;
  unsigned next_temporary_ = 0;
};

}  // namespace vordak
