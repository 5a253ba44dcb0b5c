#pragma once

// One run at a time per working directory: an exclusive flock on work_dir/.vordak.lock,
// held for the life of the object and removed with it. The kernel releases the lock when
// the process ends in any way, so a crash never leaves a stale lock (only its file, which
// the next holder takes over). Runs and anything that changes a working directory take
// it; commands that only read do not. The lock file must be a plain file with one name:
// a symbolic link, a FIFO or a hard link planted there is refused, never written through.

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// Another process holds the lock; what() names it (pid, host, start time) when it could
// be read from the lock file.
class WorkDirBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// While held, the lock file's path is in this environment variable, which the processes
// the holder starts inherit: a `vordak` command that a run's notebook calls finds its
// working directory held by its own run and works on without the lock.
inline constexpr const char* kHeldLockVariable = "VORDAK_RUN_LOCK";

class WorkDirLock {
 public:
  // Takes the lock without waiting and writes this process's pid, host and start time
  // into the lock file. Throws WorkDirBusy when another process holds it, IoError when
  // the working directory does not exist or the file cannot be opened or locked, and
  // FileRefused when the file is a link or anything but a plain file of one name.
  WorkDirLock(const std::filesystem::path& work_dir, Env& env);
  // The same, except that it waits for another holder to let go, after telling `waiting`
  // (when given) the WorkDirBusy message once.
  WorkDirLock(const std::filesystem::path& work_dir, Env& env, const std::function<void(const std::string&)>& waiting);
  ~WorkDirLock();
  WorkDirLock(const WorkDirLock&) = delete;
  WorkDirLock& operator=(const WorkDirLock&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// The lock of the working directory whose database `db_path` is (work_dir/db/NAME), for
// the commands that open it outside a run (`vordak sql`, `vordak marts`): DuckDB lets one
// process at a time have the file, so they wait for a run instead of breaking it. Null
// when the file lies in no working directory's db/, in a directory this process may not
// write (no run can work there), or when a run this process descends from holds the lock.
// Waits and throws as the waiting WorkDirLock does.
std::unique_ptr<WorkDirLock> lock_database_work_dir(const std::filesystem::path& db_path, Env& env,
                                                    const std::function<void(const std::string&)>& waiting);

// True while the process `pid` on `host` holds the working directory's lock, as far as
// its lock file and the living processes tell; reads only, never takes the lock.
bool lock_held_by(const std::filesystem::path& work_dir, long pid, const std::string& host);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
