#include "core/process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vordak {

namespace {

struct ProcessEntry {
  pid_t parent;
  char state;
};

// One process's parent and state from its /proc/<pid>/stat text: "pid (comm) state ppid
// ...", where comm may hold spaces and parentheses, so the fields are read after the last
// ')'. Absent when the process has gone.
std::optional<ProcessEntry> process_entry(const std::string& pid_text) {
  const std::string path = "/proc/" + pid_text + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const std::size_t close_paren = stat.rfind(')');
  if (close_paren == std::string_view::npos || close_paren + 4 >= stat.size()) return std::nullopt;
  buffer[n] = '\0';
  return ProcessEntry{static_cast<pid_t>(std::strtol(buffer + close_paren + 4, nullptr, 10)), stat[close_paren + 2]};
}

// Every process's parent and state. A process that ends while the table is read is
// simply missing from it.
std::map<pid_t, ProcessEntry> process_table() {
  std::map<pid_t, ProcessEntry> table;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return table;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    if (const auto found = process_entry(entry->d_name)) table[static_cast<pid_t>(pid)] = *found;
  }
  ::closedir(proc);
  return table;
}

bool ended(char state) { return state == 'Z' || state == 'X' || state == 'x'; }

}  // namespace

void adopt_orphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

std::vector<pid_t> descendants(pid_t root, const std::vector<pid_t>& spared) {
  const std::map<pid_t, ProcessEntry> table = process_table();
  std::multimap<pid_t, pid_t> children;
  for (const auto& [pid, entry] : table) children.emplace(entry.parent, pid);
  std::vector<pid_t> found;
  std::vector<pid_t> parents = {root};
  while (!parents.empty()) {
    const pid_t parent = parents.back();
    parents.pop_back();
    const auto [first, last] = children.equal_range(parent);
    for (auto it = first; it != last; ++it) {
      const pid_t child = it->second;
      if (std::find(spared.begin(), spared.end(), child) != spared.end()) continue;
      // The table is read entry by entry: a process may still be listed under a parent that
      // ended (and handed it to a reaper) while the table was read.
      if (!ended(table.at(child).state)) found.push_back(child);
      parents.push_back(child);
    }
  }
  return found;
}

bool running(pid_t pid) {
  if (pid <= 0) return false;
  const auto entry = process_entry(std::to_string(pid));
  return entry && !ended(entry->state);
}

void kill_until_gone(const std::function<std::vector<pid_t>()>& find) {
  using namespace std::chrono_literals;
  const auto give_up = std::chrono::steady_clock::now() + 5s;
  for (std::vector<pid_t> found = find(); !found.empty(); found = find()) {
    for (const pid_t pid : found) ::kill(pid, SIGKILL);
    if (std::chrono::steady_clock::now() > give_up) return;
    // A killed process needs a moment to end; looking again at once would only spin.
    std::this_thread::sleep_for(1ms);
  }
}

void reap_ended_children(const std::vector<pid_t>& kept) {
  const pid_t self = ::getpid();
  for (const auto& [pid, entry] : process_table()) {
    if (entry.parent != self || !ended(entry.state)) continue;
    if (std::find(kept.begin(), kept.end(), pid) != kept.end()) continue;
    ::waitpid(pid, nullptr, WNOHANG);
  }
}

}  // namespace vordak
