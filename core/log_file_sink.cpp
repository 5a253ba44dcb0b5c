#include "core/log_file_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/io_error.h"

namespace vordak {

LogFileSink::~LogFileSink() { close(); }

void LogFileSink::open(const std::filesystem::path& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    const std::error_code error(errno, std::generic_category());
    throw IoError::worded("günlük dosyası açılamadı: " + path.string() + ": " + error.message(), path, error);
  }
  fd_ = fd;
  path_ = path;
  closed_ = false;
  std::string kept;
  kept.swap(pending_);
  append(kept);
}

void LogFileSink::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  closed_ = true;
  pending_.clear();
}

void LogFileSink::line(std::string_view text) {
  std::string whole(text);
  whole.push_back('\n');
  append(whole);
}

void LogFileSink::partial(std::string_view text) { append(text); }

void LogFileSink::append(std::string_view text) {
  if (fd_ < 0) {
    if (!closed_) pending_.append(text);
    return;
  }
  while (!text.empty()) {
    const ssize_t written = ::write(fd_, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure_ = "günlük dosyası yazılamadı: " + path_.string() + ": " + std::strerror(errno);
      close();
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace vordak
