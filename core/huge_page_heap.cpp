#include "core/huge_page_heap.h"

#include <sys/auxv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace vordak {

namespace {

constexpr const char* kHugePageTunable = "glibc.malloc.hugetlb";

// The kernel's transparent huge page mode reads "always [madvise] never", the chosen
// one in brackets; glibc's heap asks for them by madvise, which "never" refuses.
bool kernel_offers_huge_pages() {
  std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(file, modes);
  return modes.find("[always]") != std::string::npos || modes.find("[madvise]") != std::string::npos;
}

// This process's arguments as it was started, from /proc/self/cmdline.
std::vector<std::string> own_arguments() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find('\0', begin);
    arguments.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return arguments;
}

}  // namespace

std::optional<std::string> tunables_with_huge_pages(const char* current) {
  const std::string tunables = current == nullptr ? "" : current;
  if (tunables.find(kHugePageTunable) != std::string::npos) return std::nullopt;
  return tunables + (tunables.empty() ? "" : ":") + kHugePageTunable + "=1";
}

void restart_with_huge_page_heap() {
  // A program with raised privileges drops GLIBC_TUNABLES as it starts: it would restart
  // forever.
  if (::getauxval(AT_SECURE) != 0) return;
  const char* current = std::getenv("GLIBC_TUNABLES");
  const std::optional<std::string> tunables = tunables_with_huge_pages(current);
  if (!tunables || !kernel_offers_huge_pages()) return;
  const std::optional<std::string> before = current == nullptr ? std::nullopt : std::optional<std::string>(current);
  std::vector<std::string> arguments = own_arguments();
  if (arguments.empty()) return;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (::setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
  std::fflush(nullptr);
  ::execv("/proc/self/exe", argv.data());
  // Not restarted: the program goes on as it is, with the environment it was given.
  if (before) ::setenv("GLIBC_TUNABLES", before->c_str(), 1);
  else ::unsetenv("GLIBC_TUNABLES");
}

}  // namespace vordak
