#pragma once

// What the world gives the engine and the mart builder: the clock and the file system.
// Library code reaches them only through an Env, so that tests can give a fake clock or
// a disk that fails, and the real machine is Env::system(). EnvWrapper forwards every
// call to another Env; a test overrides only what it fakes. MemoryEnv (memory_env.h) is
// a whole file system in memory.
//
// An Env is used from several threads at once (the quick fingerprints take statuses on
// two, the scoreboard file is written while the pages are made): every implementation
// must be safe for concurrent calls. A failure of the file system is thrown as IoError
// (io_error.h), naming the path.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/writable_file.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

namespace fs = std::filesystem;

using TimePoint = std::chrono::system_clock::time_point;

// What a file's metadata says of it.
struct FileStatus {
  fs::file_type type = fs::file_type::not_found;
  std::uintmax_t size = 0;
  // Modification time in whole nanoseconds since the epoch.
  __int128 mtime_ns = 0;
};

// One entry of a directory listing; `type` is the entry's own (a symbolic link is
// kSymlink, not what it points to).
struct DirEntry {
  fs::path path;
  fs::file_type type = fs::file_type::unknown;
};

class Env {
 public:
  virtual ~Env() = default;

  // The real clock and the local file system.
  static Env& system();

  // The current time.
  virtual TimePoint now() = 0;
  // Blocks until `deadline` has passed.
  virtual void sleep_until(TimePoint deadline) = 0;

  // The entry's status, symbolic links followed; absent when nothing is there (a
  // dangling link included). Throws IoError naming the path when the status
  // cannot be read for another reason (no permission on a parent, say).
  virtual std::optional<FileStatus> status(const fs::path& path) = 0;
  // The statuses of many entries, in the order of `paths`, each as status() gives it;
  // one whose status cannot be read is absent too. The system's looks each one up from
  // its directory, opened once for a run of paths in it, which spares the walk down
  // every path.
  virtual std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths);
  // The direct entries of a directory, in no particular order. Throws IoError naming
  // the directory when it cannot be listed.
  virtual std::vector<DirEntry> list_directory(const fs::path& dir) = 0;
  // Creates the directory and its missing parents; an existing directory is no error.
  // Throws IoError naming the directory on failure.
  virtual void create_directories(const fs::path& dir) = 0;
  // The whole file as bytes. Throws IoError naming the file.
  virtual std::string read_file(const fs::path& path) = 0;
  // The same for a file whose content comes from people: only a regular file (a link to
  // one included) of at most `max_bytes`. A FIFO, a device or a larger file is refused
  // unread with FileRefused, so that it can neither block nor fill the memory.
  virtual std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) = 0;
  // Replaces `path` with `content` through a synced temporary file and a rename: a
  // crash leaves the old file or the new one, never a part; the file is readable as
  // FileAccess::kShared says (see AtomicFile for another access). Throws naming the file.
  virtual void write_file_atomic(const fs::path& path, std::string_view content) = 0;
  // Removes a file (not a directory); true when something was removed. Throws naming
  // the file when it exists and cannot be removed.
  virtual bool remove_file(const fs::path& path) = 0;
  // Removes a directory with everything in it (symbolic links themselves, never what
  // they point to). Throws naming the path when something cannot be removed; what was
  // removed before stays removed.
  virtual void remove_tree(const fs::path& dir) = 0;

  // Outputs published together (see OutputSet) are written through these.
  // A new temporary file beside `target` (see WritableFile), readable as `access` says
  // once synced. Throws naming the target.
  virtual std::unique_ptr<WritableFile> new_temporary_file(const fs::path& target, FileAccess access) = 0;
  // Renames `from` over `to` in one step. Throws naming the target.
  virtual void rename_file(const fs::path& from, const fs::path& to) = 0;
  // Puts the directory's entries (the renames and removals in it) on the disk. Throws
  // naming the directory.
  virtual void sync_directory(const fs::path& dir) = 0;
  // Removes a temporary file left by a writer that is gone; true when removed (see
  // remove_abandoned_temporary).
  virtual bool remove_abandoned_file(const fs::path& path) = 0;

  // Many files that no reader knows of yet (the data files beside a page, in a directory
  // of their own) are written through these, and put on the disk all at once.
  // Creates one directory (its parent must exist) readable as `access` says; an existing
  // directory is no error. Throws naming the directory.
  virtual void create_directory(const fs::path& dir, FileAccess access) = 0;
  // Creates the file `path` (it must not exist) with `content`, readable as `access`
  // says, and hands it to the disk without waiting for it. Throws naming the file.
  virtual void write_new_file(const fs::path& path, std::string_view content, FileAccess access) = 0;
  // Returns once every file written so far on the file system holding `path` is on the
  // disk. Throws naming the path.
  virtual void sync_file_system(const fs::path& path) = 0;

  // Conveniences over status().
  bool exists(const fs::path& path) { return status(path).has_value(); }
  bool is_directory(const fs::path& path);
  bool is_regular_file(const fs::path& path);
};

// Forwards every call to `target`; override the calls a test wants to change. statuses()
// forwards too: a test that fakes status() must fake statuses() as well, or call
// Env::statuses(), which takes each through status().
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  TimePoint now() override { return target_.now(); }
  void sleep_until(TimePoint deadline) override { target_.sleep_until(deadline); }
  std::optional<FileStatus> status(const fs::path& path) override { return target_.status(path); }
  std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths) override {
    return target_.statuses(paths);
  }
  std::vector<DirEntry> list_directory(const fs::path& dir) override { return target_.list_directory(dir); }
  void create_directories(const fs::path& dir) override { target_.create_directories(dir); }
  std::string read_file(const fs::path& path) override { return target_.read_file(path); }
  std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) override {
    return target_.read_regular_file(path, max_bytes);
  }
  void write_file_atomic(const fs::path& path, std::string_view content) override {
    target_.write_file_atomic(path, content);
  }
  bool remove_file(const fs::path& path) override { return target_.remove_file(path); }
  void remove_tree(const fs::path& dir) override { target_.remove_tree(dir); }
  std::unique_ptr<WritableFile> new_temporary_file(const fs::path& target, FileAccess access) override {
    return target_.new_temporary_file(target, access);
  }
  void rename_file(const fs::path& from, const fs::path& to) override { target_.rename_file(from, to); }
  void sync_directory(const fs::path& dir) override { target_.sync_directory(dir); }
  bool remove_abandoned_file(const fs::path& path) override { return target_.remove_abandoned_file(path); }
  void create_directory(const fs::path& dir, FileAccess access) override { target_.create_directory(dir, access); }
  void write_new_file(const fs::path& path, std::string_view content, FileAccess access) override {
    target_.write_new_file(path, content, access);
  }
  void sync_file_system(const fs::path& path) override { target_.sync_file_system(path); }

 protected:
  Env& target() { return target_; }

 private:
  Env& target_;
};

}  // namespace vordak

VORDAK_PUBLIC_END
