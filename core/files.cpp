#include "core/files.h"

#include <sys/stat.h>

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
