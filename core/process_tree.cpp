#include "core/process_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace vordak {

std::optional<ProcessEntry> process_entry(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  // "pid (comm) state ppid ...": comm may hold spaces and parentheses, so the fields are
  // read after the last ')'.
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const std::size_t close_paren = stat.rfind(')');
  if (close_paren == std::string_view::npos || close_paren + 4 >= stat.size()) return std::nullopt;
  buffer[n] = '\0';
  const char state = stat[close_paren + 2];
  return ProcessEntry{static_cast<pid_t>(std::strtol(buffer + close_paren + 4, nullptr, 10)),
                      state == 'Z' || state == 'X' || state == 'x'};
}

bool is_ancestor(pid_t pid) {
  for (pid_t parent = ::getppid(); parent > 1;) {
    if (parent == pid) return true;
    const std::optional<ProcessEntry> entry = process_entry(parent);
    if (!entry) return false;
    parent = entry->parent;
  }
  return false;
}

}  // namespace vordak
