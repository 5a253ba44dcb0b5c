#include "core/env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "core/files.h"

namespace vordak {

namespace {

std::runtime_error path_error(const std::string& what, const fs::path& path, const std::error_code& error) {
  return std::runtime_error(what + ": " + path.string() + " (" + error.message() + ")");
}

fs::file_type type_of(mode_t mode) {
  if (S_ISREG(mode)) return fs::file_type::regular;
  if (S_ISDIR(mode)) return fs::file_type::directory;
  if (S_ISLNK(mode)) return fs::file_type::symlink;
  if (S_ISFIFO(mode)) return fs::file_type::fifo;
  if (S_ISSOCK(mode)) return fs::file_type::socket;
  if (S_ISBLK(mode)) return fs::file_type::block;
  if (S_ISCHR(mode)) return fs::file_type::character;
  return fs::file_type::unknown;
}

FileStatus file_status(const struct stat& info) {
  FileStatus status;
  status.type = type_of(info.st_mode);
  status.size = static_cast<std::uintmax_t>(info.st_size);
  status.mtime_ns = static_cast<__int128>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  return status;
}

// A directory opened only to look entries up from it; AT_FDCWD for the working one.
class OpenDirectory {
 public:
  OpenDirectory() = default;
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  ~OpenDirectory() { close(); }

  // Opens `dir` ("" for the working directory, or ending in '/') unless it is open.
  void open(std::string_view dir) {
    if (opened_ && dir == path_) return;
    close();
    path_.assign(dir);
    fd_ = path_.empty() ? AT_FDCWD : ::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    opened_ = true;
  }
  // -1 when the directory could not be opened.
  int fd() const { return fd_; }

 private:
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    opened_ = false;
  }

  std::string path_;
  int fd_ = -1;
  bool opened_ = false;
};

class SystemEnv : public Env {
 public:
  TimePoint now() override { return std::chrono::system_clock::now(); }
  void sleep_until(TimePoint deadline) override { std::this_thread::sleep_until(deadline); }

  std::optional<FileStatus> status(const fs::path& path) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
      throw path_error("Dosya bilgisi okunamadı", path, std::error_code(errno, std::generic_category()));
    }
    return file_status(info);
  }

  std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths) override {
    std::vector<std::optional<FileStatus>> found(paths.size());
    OpenDirectory dir;
    std::string name;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string_view path = paths[i];
      const std::size_t slash = path.rfind('/');
      const std::string_view leaf = slash == std::string_view::npos ? path : path.substr(slash + 1);
      const bool in_directory = !leaf.empty() && path.find('\0') == std::string_view::npos;
      if (in_directory) dir.open(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1));
      // No name to look up in a directory, a byte the system's paths end at, or a
      // directory that would not open (no descriptor left, say): the path as status()
      // reads it, so that no file seems gone that is there.
      if (!in_directory || dir.fd() == -1) {
        found[i] = Env::statuses(paths.subspan(i, 1)).front();
        continue;
      }
      name.assign(leaf);
      struct stat info {};
      if (::fstatat(dir.fd(), name.c_str(), &info, 0) == 0) found[i] = file_status(info);
    }
    return found;
  }

  std::vector<DirEntry> list_directory(const fs::path& dir) override {
    std::vector<DirEntry> entries;
    std::error_code error;
    fs::directory_iterator it(dir, error), end;
    for (; !error && it != end; it.increment(error)) {
      std::error_code ignored;
      entries.push_back({it->path(), it->symlink_status(ignored).type()});
    }
    if (error) throw path_error("Dizin okunamadı", dir, error);
    return entries;
  }

  void create_directories(const fs::path& dir) override {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) throw path_error("Dizin oluşturulamadı", dir, error);
    if (!fs::is_directory(dir)) {
      throw path_error("Dizin oluşturulamadı", dir, std::make_error_code(std::errc::not_a_directory));
    }
  }

  std::string read_file(const fs::path& path) override { return vordak::read_file(path); }
  std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) override {
    return vordak::read_regular_file(path, max_bytes);
  }

  void write_file_atomic(const fs::path& path, std::string_view content) override {
    vordak::write_file_atomic(path, content);
  }

  bool remove_file(const fs::path& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    throw path_error("Dosya silinemedi", path, std::error_code(errno, std::generic_category()));
  }

  void remove_tree(const fs::path& dir) override {
    std::error_code error;
    fs::remove_all(dir, error);
    if (error) throw path_error("Dizin silinemedi", dir, error);
  }

  std::unique_ptr<WritableFile> new_temporary_file(const fs::path& target, FileAccess access) override {
    return open_temporary_file(target, access);
  }

  void rename_file(const fs::path& from, const fs::path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) {
      throw path_error("Dosya yazılamadı", to, std::error_code(errno, std::generic_category()));
    }
  }

  void sync_directory(const fs::path& dir) override {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) throw path_error("Dizin yazılamadı", dir, std::error_code(error, std::generic_category()));
  }

  bool remove_abandoned_file(const fs::path& path) override { return remove_abandoned_temporary_file(path); }

  void create_directory(const fs::path& dir, FileAccess access) override {
    if (::mkdir(dir.c_str(), file_mode(access, true)) == 0) return;
    const int error = errno;
    if (error == EEXIST && fs::is_directory(dir)) return;
    throw path_error("Dizin oluşturulamadı", dir, std::error_code(error, std::generic_category()));
  }

  void write_new_file(const fs::path& path, std::string_view content, FileAccess access) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode(access));
    if (fd < 0) throw path_error("Dosya yazılamadı", path, std::error_code(errno, std::generic_category()));
    int error = 0;
    while (!content.empty() && error == 0) {
      const ssize_t n = ::write(fd, content.data(), content.size());
      if (n >= 0) content.remove_prefix(static_cast<std::size_t>(n));
      else if (errno != EINTR) error = errno;
    }
    // Handed to the disk now, so that sync_file_system finds little left to do.
    if (error == 0) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) throw path_error("Dosya yazılamadı", path, std::error_code(error, std::generic_category()));
  }

  void sync_file_system(const fs::path& path) override {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) throw path_error("Dizin yazılamadı", path, std::error_code(error, std::generic_category()));
  }
};

}  // namespace

Env& Env::system() {
  static SystemEnv env;
  return env;
}

std::vector<std::optional<FileStatus>> Env::statuses(std::span<const std::string_view> paths) {
  std::vector<std::optional<FileStatus>> found(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    try {
      found[i] = status(fs::path(paths[i]));
    } catch (const std::runtime_error&) {
      // Unreadable: absent, as the call promises.
    }
  }
  return found;
}

bool Env::is_directory(const fs::path& path) {
  const std::optional<FileStatus> found = status(path);
  return found && found->type == fs::file_type::directory;
}

bool Env::is_regular_file(const fs::path& path) {
  const std::optional<FileStatus> found = status(path);
  return found && found->type == fs::file_type::regular;
}

}  // namespace vordak
