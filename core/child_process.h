#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vordak {

// What happens to one output stream of a child.
enum class Stream { kCapture, kInherit, kDiscard };

struct ChildOptions {
  std::filesystem::path cwd;                        // empty: the caller's directory
  std::optional<std::chrono::milliseconds> timeout;  // absent: wait as long as it takes
  Stream out = Stream::kCapture;
  Stream err = Stream::kCapture;
  // Called with each piece of captured standard output as it arrives, for callers that
  // follow a child's progress; the piece is kept in ChildResult::out as well.
  std::function<void(std::string_view)> on_out;
};

struct ChildResult {
  int exit_status = 0;  // the exit code, or 128 + signal number when a signal ended it
  std::string out;      // captured standard output
  std::string err;      // captured standard error
};

// The child could not be started, or ran past its time limit (it is then killed and reaped).
class ChildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs `argv` (argv[0] looked up on PATH) as a child process: never through a shell,
// standard input from /dev/null. Blocks until the child ends or the limit passes.
ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options = {});

}  // namespace vordak
