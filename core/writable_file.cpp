#include "core/writable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "core/io_error.h"

namespace vordak {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::string_view kTemplate = "XXXXXX";  // mkstemp's replaced letters

IoError write_error(const fs::path& target, int error) { return IoError("Dosya yazılamadı", target, error); }

bool is_template_letter(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

class PosixTemporaryFile : public WritableFile {
 public:
  PosixTemporaryFile(fs::path target, fs::path path, int fd, FileAccess access)
      : target_(std::move(target)), path_(std::move(path)), fd_(fd), access_(access) {
    buffer_.reserve(kBufferSize);
  }
  ~PosixTemporaryFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  const fs::path& path() const override { return path_; }

  void append(std::string_view bytes) override {
    if (buffer_.size() + bytes.size() > kBufferSize) {
      flush();
      if (bytes.size() >= kBufferSize) {
        write_all(bytes);
        return;
      }
    }
    buffer_.append(bytes);
  }

  void start_writeback() override {
    flush();
    if (written_ > started_) ::sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }

  void sync_and_close() override {
    flush();
    // mkstemp creates 0600; the output gets the permissions its access asks for.
    if (::fchmod(fd_, file_mode(access_)) != 0 || ::fsync(fd_) != 0) throw write_error(target_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw write_error(target_, errno);
  }

 private:
  void flush() {
    write_all(buffer_);
    buffer_.clear();
  }

  void write_all(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw write_error(target_, errno);
      bytes.remove_prefix(static_cast<std::size_t>(n));
      written_ += n;
    }
  }

  fs::path target_;
  fs::path path_;
  int fd_;
  FileAccess access_;
  std::string buffer_;
  off_t written_ = 0;
  off_t started_ = 0;  // bytes already handed to the disk by start_writeback
};

// The process's umask. Linux shows it in /proc/self/status; umask() would have to set it
// to read it, and another thread creating a file in that moment would get no mask.
mode_t current_umask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

unsigned file_mode(FileAccess access, bool directory) {
  const mode_t mask = current_umask();
  const mode_t wanted = access == FileAccess::kPrivate ? (directory ? 0750 : 0640) : (directory ? 0777 : 0666);
  return wanted & ~mask;
}

std::unique_ptr<WritableFile> open_temporary_file(const fs::path& target, FileAccess access) {
  std::string pattern =
      (target.parent_path() / ("." + target.filename().string() + "." + std::string(kTemplate))).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw write_error(target, errno);
  // The lock tells a clean-up that this file is not abandoned; it goes with the process.
  ::flock(fd, LOCK_EX | LOCK_NB);
  return std::make_unique<PosixTemporaryFile>(target, fs::path(pattern), fd, access);
}

std::string temporary_file_target(std::string_view name) {
  const std::size_t suffix = kTemplate.size() + 1;
  if (name.size() < suffix + 2 || name.front() != '.' || name[name.size() - suffix] != '.') return "";
  for (const char c : name.substr(name.size() - kTemplate.size())) {
    if (!is_template_letter(c)) return "";
  }
  return std::string(name.substr(1, name.size() - suffix - 1));
}

bool remove_abandoned_temporary(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;  // gone already, or not one we would have made
  const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  std::error_code error;
  const bool removed = abandoned && fs::remove_all(path, error) > 0;
  ::close(fd);
  if (error) throw IoError("Dosya silinemedi", path, error);
  return removed;
}

}  // namespace vordak
