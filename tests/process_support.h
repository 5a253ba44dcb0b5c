#pragma once

// The processes below a test, to find what a run left behind. A test that adopts orphans
// keeps in its tree whatever its children start, sessions of their own included.

#include <dirent.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "core/process_tree.h"

namespace vordak::testing {

inline void adopt_orphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

// The live processes below `root`, each after its parent.
inline std::vector<pid_t> descendants(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  std::map<pid_t, bool> ended;
  DIR* proc = ::opendir("/proc");
  while (const dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    if (const auto found = process_entry(pid)) {
      children.emplace(found->parent, pid);
      ended[pid] = found->ended;
    }
  }
  if (proc != nullptr) ::closedir(proc);
  std::vector<pid_t> found, parents = {root};
  while (!parents.empty()) {
    const auto [first, last] = children.equal_range(parents.back());
    parents.pop_back();
    for (auto it = first; it != last; ++it) {
      if (!ended[it->second]) found.push_back(it->second);
      parents.push_back(it->second);
    }
  }
  return found;
}

// True while `pid` names a process that has not ended.
inline bool running(pid_t pid) {
  const auto entry = pid > 0 ? process_entry(pid) : std::nullopt;
  return entry && !entry->ended;
}

// The processes below this one that have not ended, once its ended children are reaped.
inline std::vector<pid_t> leftovers() {
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  return descendants(::getpid());
}

// Waits up to a minute for process `pid` to end, every thread of it: a process whose
// first thread has ended may still run in others. False when it still runs.
inline bool wait_until_ended(pid_t pid) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return true;  // gone already
  pollfd polled = {fd, POLLIN, 0};
  const int ended = ::poll(&polled, 1, 60'000);
  ::close(fd);
  return ended == 1;
}

// Waits, up to a minute each, for the processes below this one to end by themselves;
// what is left.
inline std::vector<pid_t> leftovers_once_ended() {
  for (std::vector<pid_t> left = leftovers(); !left.empty(); left = leftovers()) {
    if (!wait_until_ended(left.front())) return left;
  }
  return {};
}

}  // namespace vordak::testing
