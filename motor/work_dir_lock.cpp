#include "motor/work_dir_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/io_error.h"
#include "core/operator_identity.h"
#include "core/process_tree.h"
#include "core/text.h"

namespace vordak::motor {

namespace {

// What the holder wrote into the lock file, on one line.
std::string holder_of(int fd) {
  char buffer[512] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  const std::string text = n > 0 ? strip(std::string(buffer, static_cast<std::size_t>(n))) : "";
  return text.empty() ? "sahibi okunamadı" : text;
}

// True while `path` still names the file open as `fd`: a holder that finished removes
// its lock file, and a lock taken on a removed file guards nothing.
bool still_named(int fd, const std::filesystem::path& path) {
  struct stat open_file {}, named {};
  return ::fstat(fd, &open_file) == 0 && ::stat(path.c_str(), &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

// A lock file is a plain file of its own: anything else (a FIFO, a device, a second name
// of another file) would have the holder's line written into something that is not ours.
// No name at all is the file a holder removed meanwhile, which the caller opens again.
void refuse_unless_own_file(int& fd, const std::filesystem::path& path) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink <= 1) return;
  ::close(fd);
  fd = -1;
  throw FileRefused("kilit dosyası düzenli ve tek adlı bir dosya değil: " + path.string(), path);
}

// The pid its holder wrote into the lock file at `path` ("pid 4242, host ..."); 0 when
// there is none to read.
pid_t holder_pid(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  const std::string holder = holder_of(fd);
  ::close(fd);
  if (!holder.starts_with("pid ")) return 0;
  return static_cast<pid_t>(std::strtol(holder.c_str() + 4, nullptr, 10));
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat first {}, second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// True when a process this one descends from holds the lock at `path` and passed it down.
bool held_by_ancestor(const std::filesystem::path& path) {
  const char* passed = std::getenv(kHeldLockVariable);
  if (passed == nullptr || !same_file(passed, path)) return false;
  const pid_t holder = holder_pid(path);
  return holder > 0 && is_ancestor(holder);
}

}  // namespace

WorkDirLock::WorkDirLock(const std::filesystem::path& work_dir, Env& env) : WorkDirLock(work_dir, env, nullptr) {}

WorkDirLock::WorkDirLock(const std::filesystem::path& work_dir, Env& env, const std::function<void(const std::string&)>& waiting)
    : path_(work_dir / ".vordak.lock") {
  if (!env.is_directory(work_dir)) {
    const std::errc why = env.exists(work_dir) ? std::errc::not_a_directory : std::errc::no_such_file_or_directory;
    throw IoError::worded("çalışma dizini yok: " + work_dir.string(), work_dir, std::make_error_code(why));
  }
  bool waited = false;
  while (true) {
    // Close-on-exec: a notebook kernel that outlives the engine must not keep the lock.
    // Never through a link: the holder's line is written into this file.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0 && errno == ELOOP) throw FileRefused("kilit dosyası bir sembolik bağ: " + path_.string(), path_);
    if (fd_ < 0) throw IoError("kilit dosyası açılamadı", path_, errno);
    refuse_unless_own_file(fd_, path_);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      const std::string holder = error == EWOULDBLOCK ? holder_of(fd_) : std::strerror(error);
      const std::string busy = "çalışma dizini başka bir çalıştırmada: " + work_dir.string() + " (" + holder + ")";
      if (error == EWOULDBLOCK && waiting) {
        if (!waited) waiting(busy);
        waited = true;
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
      } else {
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK) throw IoError("kilit alınamadı", path_, error);
        throw WorkDirBusy(busy);
      }
    }
    if (still_named(fd_, path_)) break;
    ::close(fd_);  // the holder before us removed it meanwhile: take the new one
  }
  const std::string holder = "pid " + std::to_string(::getpid()) + ", host " + operator_identity().host + ", başlangıç " +
                             iso_text(env.now()).substr(0, 19) + "\n";
  // Best effort: the lock holds whether or not its holder could be written down.
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd_, holder.data(), holder.size(), 0);
  }
  // Passed down to whatever this process starts: a notebook's own `vordak sql` works
  // inside its run instead of waiting for it.
  ::setenv(kHeldLockVariable, path_.c_str(), 1);
}

WorkDirLock::~WorkDirLock() {
  if (fd_ < 0) return;
  ::unsetenv(kHeldLockVariable);
  // Removed while still held, so that a finished run leaves nothing behind and no later
  // reader names it.
  ::unlink(path_.c_str());
  ::close(fd_);
}

bool lock_held_by(const std::filesystem::path& work_dir, long pid, const std::string& host) {
  const std::filesystem::path path = work_dir / ".vordak.lock";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  const std::string holder = holder_of(fd);
  ::close(fd);
  // A lock file outlives a holder that was killed; its process then no longer lives.
  const std::string expected = "pid " + std::to_string(pid) + ", host " + host + ",";
  return pid > 0 && holder.starts_with(expected) && host == operator_identity().host &&
         (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::unique_ptr<WorkDirLock> lock_database_work_dir(const std::filesystem::path& db_path, Env& env,
                                                    const std::function<void(const std::string&)>& waiting) {
  const std::filesystem::path db_dir = std::filesystem::weakly_canonical(std::filesystem::absolute(db_path)).parent_path();
  if (db_dir.filename() != "db") return nullptr;
  const std::filesystem::path work_dir = db_dir.parent_path();
  // Where this process may not write, no run can work either.
  if (::access(work_dir.c_str(), W_OK) != 0) return nullptr;
  if (held_by_ancestor(work_dir / ".vordak.lock")) return nullptr;
  return std::make_unique<WorkDirLock>(work_dir, env, waiting);
}

}  // namespace vordak::motor
