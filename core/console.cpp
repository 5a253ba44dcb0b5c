#include "core/console.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace vordak {

bool progress_visible() { return ::isatty(STDERR_FILENO) == 1; }

void progress(std::string_view line) {
  if (!progress_visible()) return;
  std::string text = "\r\033[K";
  text += line;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void progress_done() {
  if (!progress_visible()) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace vordak
