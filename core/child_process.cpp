#include "core/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vordak {

namespace {

// A pipe whose ends close themselves.
struct Pipe {
  int read_end = -1;
  int write_end = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw ChildError(std::string("pipe açılamadı: ") + std::strerror(errno));
    read_end = fds[0];
    write_end = fds[1];
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }
};

// Sets up one output stream inside the child, before exec.
void route_stream(Stream mode, Pipe& pipe, int target_fd, int null_fd) {
  if (mode == Stream::kCapture) ::dup2(pipe.write_end, target_fd);
  if (mode == Stream::kDiscard) ::dup2(null_fd, target_fd);
}

// Runs in the forked child: only system calls from here on, no allocation.
[[noreturn]] void child_main(char* const* args, const ChildOptions& options, Pipe& out, Pipe& err,
                             Pipe& exec_status) {
  // Own process group, so a time-out can stop grandchildren too.
  if (options.timeout) ::setpgid(0, 0);
  const int null_fd = ::open("/dev/null", O_RDWR);
  ::dup2(null_fd, STDIN_FILENO);
  route_stream(options.out, out, STDOUT_FILENO, null_fd);
  route_stream(options.err, err, STDERR_FILENO, null_fd);
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) {
    const int error = errno;
    [[maybe_unused]] auto n = ::write(exec_status.write_end, &error, sizeof error);
    ::_exit(127);
  }
  ::execvp(args[0], args);
  const int error = errno;
  [[maybe_unused]] auto n = ::write(exec_status.write_end, &error, sizeof error);
  ::_exit(127);
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options) {
  if (argv.empty()) throw ChildError("boş komut");
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  Pipe out, err, exec_status;
  const pid_t pid = ::fork();
  if (pid < 0) throw ChildError(std::string("süreç başlatılamadı: ") + std::strerror(errno));
  if (pid == 0) child_main(args.data(), options, out, err, exec_status);

  out.close_write();
  err.close_write();
  exec_status.close_write();

  int exec_errno = 0;
  if (::read(exec_status.read_end, &exec_errno, sizeof exec_errno) == sizeof exec_errno) {
    ::waitpid(pid, nullptr, 0);
    throw ChildError(argv[0] + " çalıştırılamadı: " + std::strerror(exec_errno));
  }

  ChildResult result;
  const auto deadline = options.timeout ? std::chrono::steady_clock::now() + *options.timeout
                                        : std::chrono::steady_clock::time_point::max();
  std::string* sinks[2] = {&result.out, &result.err};
  int* fds[2] = {&out.read_end, &err.read_end};
  if (options.out != Stream::kCapture) out.close_read();
  if (options.err != Stream::kCapture) err.close_read();

  bool timed_out = false;
  while (out.read_end >= 0 || err.read_end >= 0) {
    pollfd polled[2];
    nfds_t count = 0;
    int index_of[2];
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] >= 0) {
        index_of[count] = i;
        polled[count++] = {*fds[i], POLLIN, 0};
      }
    }
    int wait_ms = -1;
    if (options.timeout) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        timed_out = true;
        break;
      }
      wait_ms = static_cast<int>(left.count());
    }
    const int ready = ::poll(polled, count, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    for (nfds_t k = 0; k < count; ++k) {
      if (polled[k].revents == 0) continue;
      char buffer[8192];
      const ssize_t n = ::read(polled[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[index_of[k]]->append(buffer, static_cast<std::size_t>(n));
        if (index_of[k] == 0 && options.on_out) options.on_out(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n == 0 || errno != EINTR) {
        ::close(*fds[index_of[k]]);
        *fds[index_of[k]] = -1;
      }
    }
  }

  // With nothing left to read the child may still be running: wait for it within the limit.
  int status = 0;
  while (!timed_out) {
    const pid_t done = ::waitpid(pid, &status, options.timeout ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (options.timeout) {
      if (std::chrono::steady_clock::now() >= deadline) {
        timed_out = true;
        break;
      }
      ::usleep(2000);
    }
  }
  if (timed_out) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    throw ChildError(argv[0] + " zaman aşımına uğradı (" + std::to_string(options.timeout->count()) + " ms)");
  }
  result.exit_status = decode_status(status);
  return result;
}

}  // namespace vordak
