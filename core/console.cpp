#include "core/console.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace vordak {

namespace {

class TerminalProgress : public Sink {
 public:
  void line(std::string_view text) override { show(text); }
  void partial(std::string_view text) override { show(text); }

 private:
  static void show(std::string_view text) {
    if (::isatty(STDERR_FILENO) != 1) return;
    std::string shown = "\r\033[K";
    shown += text;
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

Sink& terminal_progress() {
  static TerminalProgress sink;
  return sink;
}

}  // namespace vordak
