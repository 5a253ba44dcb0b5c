// The real machine: the system clock and the local file system, through POSIX calls.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "core/env.h"
#include "core/files.h"
#include "core/io_error.h"

namespace vordak {

namespace {

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

// Room left past a file's text: the record reader's parser reads up to 64 bytes beyond it.
constexpr std::size_t kReadRoom = 64;

// The whole file as bytes.
std::string read_whole_file(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw IoError("Dosya okunamadı", path, errno);
  std::string content;
  // Read at its size in one buffer: growing a large one page by page costs more than
  // reading it (a meta record of 10,000 source files is over half a megabyte).
  struct stat info {};
  if (::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    // With room past the end, so that the record reader takes the text without a copy.
    content.reserve(static_cast<std::size_t>(info.st_size) + kReadRoom);
    content.resize(static_cast<std::size_t>(info.st_size));
    content.resize(std::fread(content.data(), 1, content.size(), file));
  }
  char chunk[65536];
  std::size_t n;
  // Whatever the file holds beyond the size it had, and every byte of what has no size.
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) throw IoError("Dosya okunamadı", path, error);
  return content;
}

// A regular file of at most `max_bytes`, opened without waiting: a FIFO would otherwise
// block here until a writer came.
std::string read_bounded_regular_file(const fs::path& path, std::uintmax_t max_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw IoError("Dosya okunamadı", path, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const auto too_large = [&](std::uintmax_t size) {
    return FileRefused("Dosya çok büyük: " + path.string() + " (" + std::to_string(size) + " bayt; en çok " +
                           std::to_string(max_bytes) + ")",
                       path);
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw IoError("Dosya okunamadı", path, errno);
  if (!S_ISREG(info.st_mode)) throw FileRefused("Düzenli bir dosya değil: " + path.string(), path);
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) throw too_large(static_cast<std::uintmax_t>(info.st_size));
  // Room for one byte more than it had, which tells a file that grew meanwhile.
  std::string content(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t got = 0;
  while (true) {
    if (got == content.size()) {
      if (got > max_bytes) throw too_large(got);
      content.resize(std::min<std::uintmax_t>(2 * got, max_bytes + 1));
    }
    const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw IoError("Dosya okunamadı", path, errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  content.resize(got);
  return content;
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
      throw IoError("Dosya bilgisi okunamadı", path, errno);
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
    if (error) throw IoError("Dizin okunamadı", dir, error);
    return entries;
  }

  void create_directories(const fs::path& dir) override {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) throw IoError("Dizin oluşturulamadı", dir, error);
    if (!fs::is_directory(dir)) {
      throw IoError("Dizin oluşturulamadı", dir, std::make_error_code(std::errc::not_a_directory));
    }
  }

  std::string read_file(const fs::path& path) override { return read_whole_file(path); }
  std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) override {
    return read_bounded_regular_file(path, max_bytes);
  }

  void write_file_atomic(const fs::path& path, std::string_view content) override {
    AtomicFile file(*this, path);
    file.write(content);
    file.commit();
  }

  bool remove_file(const fs::path& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    throw IoError("Dosya silinemedi", path, errno);
  }

  void remove_tree(const fs::path& dir) override {
    std::error_code error;
    fs::remove_all(dir, error);
    if (error) throw IoError("Dizin silinemedi", dir, error);
  }

  std::unique_ptr<WritableFile> new_temporary_file(const fs::path& target, FileAccess access) override {
    return open_temporary_file(target, access);
  }

  void rename_file(const fs::path& from, const fs::path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) {
      throw IoError("Dosya yazılamadı", to, errno);
    }
  }

  void sync_directory(const fs::path& dir) override {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) throw IoError("Dizin yazılamadı", dir, error);
  }

  bool remove_abandoned_file(const fs::path& path) override { return remove_abandoned_temporary(path); }

  void create_directory(const fs::path& dir, FileAccess access) override {
    if (::mkdir(dir.c_str(), file_mode(access, true)) == 0) return;
    const int error = errno;
    if (error == EEXIST && fs::is_directory(dir)) return;
    throw IoError("Dizin oluşturulamadı", dir, error);
  }

  void write_new_file(const fs::path& path, std::string_view content, FileAccess access) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode(access));
    if (fd < 0) throw IoError("Dosya yazılamadı", path, errno);
    int error = 0;
    while (!content.empty() && error == 0) {
      const ssize_t n = ::write(fd, content.data(), content.size());
      if (n >= 0) content.remove_prefix(static_cast<std::size_t>(n));
      else if (errno != EINTR) error = errno;
    }
    // Handed to the disk now, so that sync_file_system finds little left to do.
    if (error == 0) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) throw IoError("Dosya yazılamadı", path, error);
  }

  void sync_file_system(const fs::path& path) override {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) throw IoError("Dizin yazılamadı", path, error);
  }
};

}  // namespace

Env& Env::system() {
  static SystemEnv env;
  return env;
}

}  // namespace vordak
