#pragma once

// Engine test helpers: scripted operator answers and a quiet engine in a temp dir.

#include <deque>
#include <memory>

#include "motor/motor.h"
#include "test_support.h"

namespace vordak::testing {

// Answers the data-source prompt from a script; counts how often it was asked.
class ScriptedInput : public motor::OperatorInput {
 public:
  ScriptedInput(bool interactive, std::deque<std::string> answers)
      : interactive_(interactive), answers_(std::move(answers)) {}
  bool interactive() const override { return interactive_; }
  std::optional<std::string> read_line() override {
    ++asked;
    if (answers_.empty()) return std::nullopt;
    std::string answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  int asked = 0;

 private:
  bool interactive_;
  std::deque<std::string> answers_;
};

// Engine arguments for a run in `dir` that reads no path files and asks nothing.
inline motor::MotorArgs quiet_args(const fs::path& dir) {
  motor::MotorArgs args;
  args.work_dir = dir.string();
  args.data_paths = motor::DataPaths{{"kik_data_ham_csv", (dir / "kik").string()}};
  args.input = std::make_shared<ScriptedInput>(false, std::deque<std::string>{});
  return args;
}

}  // namespace vordak::testing
