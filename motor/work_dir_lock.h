#pragma once

// One run at a time per working directory: an exclusive flock on work_dir/.vordak.lock,
// held for the life of the object and removed with it. The kernel releases the lock when
// the process ends in any way, so a crash never leaves a stale lock (only its file, which
// the next holder takes over). Runs and anything that changes a working directory take
// it; commands that only read do not. The lock file must be a plain file with one name:
// a symbolic link, a FIFO or a hard link planted there is refused, never written through.

#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/env.h"

namespace vordak::motor {

// Another process holds the lock; what() names it (pid, host, start time) when it could
// be read from the lock file.
class WorkDirBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class WorkDirLock {
 public:
  // Takes the lock without waiting and writes this process's pid, host and start time
  // into the lock file. Throws WorkDirBusy when another process holds it,
  // std::runtime_error naming the directory or file when the working directory does not
  // exist or the file cannot be opened.
  WorkDirLock(const std::filesystem::path& work_dir, Env& env);
  ~WorkDirLock();
  WorkDirLock(const WorkDirLock&) = delete;
  WorkDirLock& operator=(const WorkDirLock&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace vordak::motor
