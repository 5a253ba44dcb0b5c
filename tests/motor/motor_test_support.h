#pragma once

// Engine test helpers: scripted operator answers, a stand-in executor, and a fixture
// that makes engines in a temp dir on a fake clock, each run a season of its own.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "core/sink.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"
#include "motor/step_table.h"
#include "test_support.h"

namespace vordak::testing {

// The quick fingerprint of one file on the disk, as a meta record holds it; absent for
// a missing file.
inline motor::Fingerprint quick_fingerprint(const std::string& path) {
  const std::string_view paths[] = {path};
  motor::QuickFingerprint found[1];
  motor::fast_fingerprints(paths, found, Env::system());
  const std::optional<std::string_view> text = found[0].text();
  return text ? motor::Fingerprint(std::string(*text)) : std::nullopt;
}

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
  return args;
}

// Stands in for the notebook executor: records every call, copies the notebook to
// the output path, writes the reports listed in `reports`, and fails the steps listed in
// `failing` with the given message.
class FakeExecutor : public motor::NotebookExecutor {
 public:
  struct Call {
    std::string input, output, cwd;
    motor::NotebookParams params;
  };
  void execute_notebook(const std::string& input, const std::string& output, const motor::NotebookParams& params,
                        const std::string& cwd) override {
    calls.push_back({input, output, cwd, params});
    fs::copy_file(input, output, fs::copy_options::overwrite_existing);
    if (during) during(input);
    for (const auto& [name, report] : reports) {
      const motor::ParamValue* path = params.find("REPORT_PATH");
      if (path != nullptr && input.find(name) != std::string::npos) write_text(std::get<std::string>(*path), report);
    }
    for (const auto& [name, message] : failing) {
      if (input.find(name) != std::string::npos) throw std::runtime_error(message);
    }
  }
  std::vector<std::string> executed() const {
    std::vector<std::string> names;
    for (const Call& call : calls) names.push_back(fs::path(call.input).filename().string());
    return names;
  }
  std::vector<Call> calls;
  std::vector<std::pair<std::string, std::string>> failing;  // notebook name part -> message
  // Notebook name part -> the report its notebook writes at REPORT_PATH.
  std::vector<std::pair<std::string, std::string>> reports;
  std::function<void(const std::string& input)> during;  // what happens while a notebook runs
};

// Every registry notebook, tiny, with its parameters cell, in `dir`.
inline void write_registry_notebooks(const fs::path& dir) {
  for (const motor::StepDefinition& step : motor::step_table()) write_notebook(dir / step.nb, {"params:x = '" + step.kod + "'"});
}

// Another Env's disk on which one directory cannot be listed, as without permission
// (which the tests, run as root, cannot take away).
class UnlistableDirEnv : public EnvWrapper {
 public:
  UnlistableDirEnv(Env& target, fs::path unlistable) : EnvWrapper(target), unlistable_(std::move(unlistable)) {}
  std::vector<DirEntry> list_directory(const fs::path& dir) override {
    if (dir == unlistable_) throw std::runtime_error(message(dir));
    return EnvWrapper::list_directory(dir);
  }
  static std::string message(const fs::path& dir) { return "Dizin okunamadı: " + dir.string() + " (Permission denied)"; }

 private:
  fs::path unlistable_;
};

// Engines in a temp dir on a fake clock, their lines kept in `out`, notebooks run by
// the stand-in executor. Each engine made is a new season one second after the last.
class EngineTest : public ::testing::Test {
 protected:
  std::unique_ptr<motor::Motor> make(motor::MotorArgs args) {
    clock.advance(std::chrono::seconds(1));
    args.env = &clock;
    if (!args.executor) args.executor = executor;
    return std::make_unique<motor::Motor>(args, out);
  }
  std::unique_ptr<motor::Motor> make() { return make(quiet_args(dir.path())); }

  TempDir dir;
  FakeClockEnv clock;
  StringSink out;
  std::shared_ptr<FakeExecutor> executor = std::make_shared<FakeExecutor>();
};

}  // namespace vordak::testing
