#include "motor/notebook_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "core/io_error.h"
#include "core/writable_file.h"

namespace vordak::motor {

namespace {

using TimePoint = LimitClock::time_point;

constexpr std::size_t kErrorKeep = 8192;
// After a step's kernel was killed at its limit, the runner notices within a second and
// writes the notebook; past this it is taken for hung and stopped.
constexpr std::chrono::seconds kSaveWait{5};
// Asked to stop, the runner kills what lies below it, giving up on the unkillable after
// five seconds, and ends; past this it is killed itself.
constexpr std::chrono::seconds kStopWait{10};
// The limit is the notebook's: it starts when its kernel is ready. Before that the runner
// bounds the kernel's start itself; this only catches a runner that hangs.
constexpr std::chrono::seconds kStartWait{180};
constexpr std::string_view kConnectionDirPrefix = "vordak-kernels-";
// A connection directory is locked a moment after it is made; one younger than this is
// left alone even unlocked.
constexpr std::time_t kAbandonedAfterSeconds = 3600;

void keep_tail(std::string& tail, std::string_view piece) {
  tail.append(piece);
  if (tail.size() > kErrorKeep) tail.erase(0, tail.size() - kErrorKeep);
}

// Reads what is there without blocking; false at the end of the stream.
bool drain(int fd, std::string& into) {
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);  // open, nothing more for now
  }
}

int milliseconds_until(TimePoint deadline, TimePoint now) {
  if (deadline == TimePoint::max()) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// Removes the connection directories of this user's runs that were killed with their
// runner: no living process holds their lock. They hold dead kernels' keys and sockets.
void remove_abandoned_connection_dirs(const fs::path& temporary) {
  std::error_code error;
  for (fs::directory_iterator it(temporary, error), end; !error && it != end; it.increment(error)) {
    const fs::path& dir = it->path();
    struct stat info {};
    if (!dir.filename().string().starts_with(kConnectionDirPrefix) || ::lstat(dir.c_str(), &info) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        std::time(nullptr) - info.st_mtime < kAbandonedAfterSeconds) {
      continue;
    }
    try {
      remove_abandoned_temporary(dir);
    } catch (const IoError&) {
      // Left for a later run: tidying up never stops this one.
    }
  }
}

}  // namespace

NotebookRunner::ConnectionDir::ConnectionDir() {
  const fs::path temporary = fs::temp_directory_path();
  remove_abandoned_connection_dirs(temporary);
  std::string pattern = (temporary / (std::string(kConnectionDirPrefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw ChildError("kernel bağlantı dizini oluşturulamadı: " + pattern + " (" + std::strerror(errno) + ")");
  }
  path_ = pattern;
  // Not inherited: the runner removes the directory itself when this process ends alone.
  lock_fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_EX | LOCK_NB);
}

NotebookRunner::ConnectionDir::~ConnectionDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

NotebookRunner::NotebookRunner(std::vector<std::string> argv, const LimitClock& clock) : clock_(clock) {
  argv.push_back("--connection-dir=" + connections_.path().string());
  // The runner stops what it started when this process ends, which a SIGKILL would not let it do.
  child_ = std::make_unique<RunningChild>(argv, fs::path(), SIGHUP);
}

NotebookRunner::~NotebookRunner() {
  if (child_) stop();
}

std::optional<int> NotebookRunner::stop() {
  ::kill(child_->pid(), SIGHUP);
  std::optional<int> status = child_->wait_for(kStopWait);
  if (!status) {
    ::kill(child_->pid(), SIGKILL);
    status = child_->wait();
  }
  child_.reset();
  pending_.clear();
  return status;
}

void NotebookRunner::read_errors(std::string& tail) {
  if (!errors_open_) return;
  std::string piece;
  errors_open_ = drain(child_->error(), piece);
  keep_tail(tail, piece);
}

std::optional<int> NotebookRunner::abandon(const fs::path& unfinished) {
  const std::optional<int> status = stop();
  std::error_code ignored;
  fs::remove(unfinished, ignored);
  return status;
}

void NotebookRunner::wait_for_output(const StopSignalGuard& signals, const fs::path& unfinished,
                                     TimePoint deadline) {
  pollfd polled[3] = {{child_->output(), POLLIN, 0},
                      {errors_open_ ? child_->error() : -1, POLLIN, 0},
                      {signals.wake_fd(), POLLIN, 0}};
  if (::poll(polled, 3, milliseconds_until(deadline, clock_.now())) < 0 && errno != EINTR) {
    throw std::runtime_error("notebook çalıştırıcısı izlenemedi: " + std::string(std::strerror(errno)));
  }
  if (signals.pending() != 0) {
    abandon(unfinished);
    signals.die();
  }
}

void NotebookRunner::take_messages(RunnerAnswer& answer, const std::function<void(const ordered_json&)>& on_message) {
  std::size_t end;
  while (answer.status.empty() && (end = pending_.find('\n')) != std::string::npos) {
    ordered_json message;
    try {
      message = parse_json(std::string_view(pending_).substr(0, end));
    } catch (const ordered_json::exception&) {
      // Not a line of the protocol (a library wrote to the channel): passed over.
    }
    pending_.erase(0, end + 1);
    if (!message.is_object()) continue;
    if (message.contains("status")) answer.status = std::move(message);
    else on_message(message);
  }
}

RunnerAnswer NotebookRunner::execute(const fs::path& notebook, const fs::path& cwd,
                                     const std::function<void(const ordered_json&)>& on_message,
                                     std::optional<std::chrono::seconds> limit) {
  RunnerAnswer answer;
  const StopSignalGuard signals;
  const fs::path unfinished = notebook.string() + ".tmp";

  // Paths go as they are, bytes that are not UTF-8 included: the runner reads them back
  // with Python's surrogate escapes.
  std::string request = "{\"notebook\": ";
  append_json_string(request, notebook.string());
  request += ", \"cwd\": ";
  append_json_string(request, cwd.string());
  request += "}\n";
  if (!child_->send(request)) {
    read_errors(answer.err_tail);
    answer.exit_status = stop();
    return answer;
  }

  TimePoint deadline = limit ? clock_.now() + std::max(*limit, kStartWait) : TimePoint::max();
  bool kernel_started = false;
  bool stop_asked = false;
  // The limit starts at the line announcing the kernel, before the lines after it are passed on.
  const auto take = [&](const ordered_json& message) {
    if (message.contains("kernel")) {
      kernel_started = true;
      if (limit) deadline = clock_.now() + *limit;
    }
    on_message(message);
  };
  while (answer.status.empty()) {
    wait_for_output(signals, unfinished, deadline);
    read_errors(answer.err_tail);
    const bool open = drain(child_->output(), pending_);
    take_messages(answer, take);
    if (!answer.status.empty()) break;
    if (!open) {
      answer.exit_status = stop();
      return answer;
    }
    if (clock_.now() < deadline) continue;
    answer.timed_out = true;
    if (!kernel_started || stop_asked) {
      // The limit passed before the kernel started, or the runner does not answer.
      answer.exit_status = abandon(unfinished);
      return answer;
    }
    // The notebook's time is up: the runner kills its kernel with all it started, and
    // writes what the notebook got to.
    ::kill(child_->pid(), SIGUSR1);
    stop_asked = true;
    deadline = clock_.now() + kSaveWait;
  }
  return answer;
}

}  // namespace vordak::motor
