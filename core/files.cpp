#include "core/files.h"

#include <sys/stat.h>
#include <unistd.h>

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

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {
  std::string pattern = (target_.parent_path() / ("." + target_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw file_error("Dosya yazılamadı", target_, errno);
  temporary_ = pattern;
  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int error = errno;
    ::close(fd);
    fs::remove(temporary_);
    throw file_error("Dosya yazılamadı", target_, error);
  }
}

AtomicFile::~AtomicFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporary_.empty()) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
  }
}

void AtomicFile::write(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    throw file_error("Dosya yazılamadı", target_, errno);
  }
}

void AtomicFile::commit() {
  const bool flushed = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
  const int error = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) throw file_error("Dosya yazılamadı", target_, flushed ? errno : error);
  // mkstemp creates 0600; give the file the permissions an ordinary write would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(temporary_.c_str(), 0666 & ~mask);
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) throw file_error("Dosya yazılamadı", target_, errno);
  temporary_.clear();
}

void write_file_atomic(const fs::path& path, std::string_view content) {
  AtomicFile file(path);
  file.write(content);
  file.commit();
}

}  // namespace vordak
