#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vordak {

namespace {

std::runtime_error file_error(const std::string& what, const fs::path& path, int error) {
  return std::runtime_error(what + ": " + path.string() + " (" + std::strerror(error) + ")");
}

}  // namespace

std::string read_file(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw file_error("Dosya okunamadı", path, errno);
  std::string content;
  // Read at its size in one buffer: growing a large one page by page costs more than
  // reading it (a meta record of 10,000 source files is over half a megabyte).
  struct stat info {};
  if (::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
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
  if (failed) throw file_error("Dosya okunamadı", path, error);
  return content;
}

std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) {
  // Opened without waiting: a FIFO would otherwise block here until a writer came.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw file_error("Dosya okunamadı", path, errno);
  const auto fail = [&](const std::string& message) {
    ::close(fd);
    throw std::runtime_error(message);
  };
  const auto too_large = [&](std::uintmax_t size) {
    fail("Dosya çok büyük: " + path.string() + " (" + std::to_string(size) + " bayt; en çok " +
         std::to_string(max_bytes) + ")");
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) fail(file_error("Dosya okunamadı", path, errno).what());
  if (!S_ISREG(info.st_mode)) fail("Düzenli bir dosya değil: " + path.string());
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) too_large(static_cast<std::uintmax_t>(info.st_size));
  // Room for one byte more than it had, which tells a file that grew meanwhile.
  std::string content(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t got = 0;
  while (true) {
    if (got == content.size()) {
      if (got > max_bytes) too_large(got);
      content.resize(std::min<std::uintmax_t>(2 * got, max_bytes + 1));
    }
    const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(file_error("Dosya okunamadı", path, errno).what());
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  content.resize(got);
  return content;
}

AtomicFile::AtomicFile(fs::path target, FileAccess access)
    : target_(std::move(target)), file_(open_temporary_file(target_, access)) {}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  const fs::path temporary = file_->path();
  file_.reset();
  std::error_code ignored;
  fs::remove(temporary, ignored);
}

void AtomicFile::commit() {
  file_->sync_and_close();
  if (std::rename(file_->path().c_str(), target_.c_str()) != 0) throw file_error("Dosya yazılamadı", target_, errno);
  committed_ = true;
}

void write_file_atomic(const fs::path& path, std::string_view content, FileAccess access) {
  AtomicFile file(path, access);
  file.write(content);
  file.commit();
}

}  // namespace vordak
