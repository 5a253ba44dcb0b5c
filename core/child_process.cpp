#include "core/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// What the forked child does with its standard streams: take a descriptor, keep the
// parent's, or read and write /dev/null.
constexpr int kInherit = -1;
constexpr int kNull = -2;

struct ChildSetup {
  const std::filesystem::path& cwd;
  int in = kNull;
  int out = kInherit;
  int err = kInherit;
  bool own_group = false;
  // The parent whose end sends the child `death_signal`; 0: none.
  pid_t dies_with = 0;
  int death_signal = SIGKILL;
};

int stream_target(Stream mode, const Pipe& pipe) {
  if (mode == Stream::kCapture) return pipe.write_end;
  return mode == Stream::kDiscard ? kNull : kInherit;
}

void route_stream(int target, int fd, int null_fd) {
  if (target != kInherit) ::dup2(target == kNull ? null_fd : target, fd);
}

// Runs in the forked child: only system calls from here on, no allocation.
[[noreturn]] void child_main(char* const* args, const ChildSetup& setup, Pipe& exec_status) {
  if (setup.own_group) ::setpgid(0, 0);
  if (setup.dies_with != 0) {
    ::prctl(PR_SET_PDEATHSIG, setup.death_signal);
    // The parent may have ended before the line above.
    if (::getppid() != setup.dies_with) ::_exit(127);
  }
  const int null_fd = ::open("/dev/null", O_RDWR);
  route_stream(setup.in, STDIN_FILENO, null_fd);
  route_stream(setup.out, STDOUT_FILENO, null_fd);
  route_stream(setup.err, STDERR_FILENO, null_fd);
  if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) {
    const int error = errno;
    [[maybe_unused]] auto n = ::write(exec_status.write_end, &error, sizeof error);
    ::_exit(127);
  }
  ::execvp(args[0], args);
  const int error = errno;
  [[maybe_unused]] auto n = ::write(exec_status.write_end, &error, sizeof error);
  ::_exit(127);
}

// Forks and executes `argv`; returns once the program runs. Throws ChildError when it
// cannot be started (the child is reaped then).
pid_t spawn(const std::vector<std::string>& argv, const ChildSetup& setup) {
  if (argv.empty()) throw ChildError("boş komut");
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  Pipe exec_status;
  const pid_t pid = ::fork();
  if (pid < 0) throw ChildError(std::string("süreç başlatılamadı: ") + std::strerror(errno));
  if (pid == 0) child_main(args.data(), setup, exec_status);
  exec_status.close_write();
  int exec_errno = 0;
  if (::read(exec_status.read_end, &exec_errno, sizeof exec_errno) == sizeof exec_errno) {
    ::waitpid(pid, nullptr, 0);
    throw ChildError(argv[0] + " çalıştırılamadı: " + std::strerror(exec_errno));
  }
  return pid;
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options) {
  Pipe out, err;
  ChildSetup setup{options.cwd};
  setup.out = stream_target(options.out, out);
  setup.err = stream_target(options.err, err);
  // Own process group, so a time-out can stop grandchildren too.
  setup.own_group = options.timeout.has_value();
  const pid_t pid = spawn(argv, setup);
  out.close_write();
  err.close_write();

  ChildResult result;
  const LimitClock& clock = *options.clock;
  const auto deadline = options.timeout ? clock.now() + *options.timeout : LimitClock::time_point::max();
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
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock.now());
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
      if (clock.now() >= deadline) {
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

RunningChild::RunningChild(const std::vector<std::string>& argv, const std::filesystem::path& cwd, int death_signal) {
  // A socket rather than a pipe for standard input: send() can refuse SIGPIPE.
  int input[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
    throw ChildError(std::string("soket açılamadı: ") + std::strerror(errno));
  }
  Pipe out, err;
  ChildSetup setup{cwd};
  setup.in = input[1];
  setup.out = out.write_end;
  setup.err = err.write_end;
  setup.own_group = true;
  setup.dies_with = ::getpid();
  setup.death_signal = death_signal;
  try {
    pid_ = spawn(argv, setup);
  } catch (const ChildError&) {
    ::close(input[0]);
    ::close(input[1]);
    throw;
  }
  ::close(input[1]);
  in_ = input[0];
  std::swap(out_, out.read_end);
  std::swap(err_, err.read_end);
  ::fcntl(out_, F_SETFL, O_NONBLOCK);
  ::fcntl(err_, F_SETFL, O_NONBLOCK);
}

RunningChild::~RunningChild() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {in_, out_, err_}) ::close(fd);
}

bool RunningChild::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(in_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int RunningChild::wait() {
  int status = 0;
  pid_t done;
  while ((done = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return done == pid_ ? decode_status(status) : -1;
}

std::optional<int> RunningChild::wait_for(std::chrono::milliseconds limit) {
  // A descriptor of the child becomes readable when it ends (Linux 5.3 on; an older
  // kernel has no limit here).
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (fd >= 0) {
    pollfd polled = {fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int ready;
    do {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      ready = ::poll(&polled, 1, static_cast<int>(std::max<long long>(0, left.count())));
    } while (ready < 0 && errno == EINTR);
    ::close(fd);
    if (ready == 0) return std::nullopt;
  }
  return wait();
}

bool RunningChild::ended() const {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid_;
}

}  // namespace vordak
