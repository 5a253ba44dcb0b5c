#pragma once

// Engine test helpers: scripted operator answers, a stand-in executor, and a fixture
// that makes engines in an in-memory working directory on a fake clock, each run a
// season of its own.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "core/io_error.h"
#include "core/memory_env.h"
#include "core/sink.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"
#include "motor/step_table.h"
#include "test_support.h"

namespace vordak::testing {

// The working directory of a test in a MemoryEnv. It must name nothing on the disk: a
// season resolves the links of its working directory's path there.
inline const fs::path kMemoryWorkDir = "/vordak-test-memory/work";

// A file written through an Env (a MemoryEnv, say), its directory created with it.
inline void write_text(Env& env, const fs::path& path, const std::string& text) {
  env.create_directories(path.parent_path());
  env.write_file_atomic(path, text);
}

inline void write_notebook(Env& env, const fs::path& path, const std::vector<std::string>& sources) {
  write_text(env, path, notebook(sources).dump(1));
}

// Where FakeClockEnv's clock starts, for a MemoryEnv to start there too.
inline TimePoint fake_clock_start() { return FakeClockEnv().now(); }

// The quick fingerprint of one file, as a meta record holds it; absent for a missing file.
inline motor::Fingerprint quick_fingerprint(const std::string& path, Env& env) {
  const std::string_view paths[] = {path};
  motor::QuickFingerprint found[1];
  motor::fast_fingerprints(paths, found, env);
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

// Stands in for the notebook executor on `env`: records every call, copies the notebook
// to the output path, writes the reports listed in `reports`, and fails the steps listed
// in `failing` with the given message.
class FakeExecutor : public motor::NotebookExecutor {
 public:
  explicit FakeExecutor(Env& env) : env_(env) {}
  struct Call {
    std::string input, output, cwd;
    motor::NotebookParams params;
  };
  void execute_notebook(const std::string& input, const std::string& output, const motor::NotebookParams& params,
                        const std::string& cwd) override {
    calls.push_back({input, output, cwd, params});
    env_.write_file_atomic(output, env_.read_file(input));
    if (during) during(input);
    for (const auto& [name, report] : reports) {
      const motor::ParamValue* path = params.find("REPORT_PATH");
      if (path != nullptr && input.find(name) != std::string::npos) {
        env_.write_file_atomic(std::get<std::string>(*path), report);
      }
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

 private:
  Env& env_;
};

// Another Env on which one directory cannot be listed, as without permission (which the
// tests, run as root, could not take away on the disk).
class UnlistableDirEnv : public EnvWrapper {
 public:
  UnlistableDirEnv(Env& target, fs::path unlistable) : EnvWrapper(target), unlistable_(std::move(unlistable)) {}
  std::vector<DirEntry> list_directory(const fs::path& dir) override {
    if (dir == unlistable_) throw IoError::worded(message(dir), dir, std::make_error_code(std::errc::permission_denied));
    return EnvWrapper::list_directory(dir);
  }
  static std::string message(const fs::path& dir) { return "Dizin okunamadı: " + dir.string() + " (Permission denied)"; }

 private:
  fs::path unlistable_;
};

// Engines on a fake clock, their lines kept in `out`, notebooks run by the stand-in
// executor. Each engine made is a new season one second after the last. The working
// directory `dir` is in memory; a test of what only a disk has (a lock a process holds)
// asks for Place::kDisk and gets a fresh temp dir. Files go through `env` either way.
class EngineTest : public ::testing::Test {
 protected:
  enum class Place { kMemory, kDisk };
  explicit EngineTest(Place place = Place::kMemory)
      : memory_(fake_clock_start()),
        disk_(place == Place::kDisk ? std::make_unique<TempDir>() : nullptr),
        disk_clock_(disk_ ? std::make_unique<FakeClockEnv>() : nullptr),
        env(disk_clock_ ? static_cast<Env&>(*disk_clock_) : memory_),
        dir(disk_ ? disk_->path() : kMemoryWorkDir) {
    env.create_directories(dir);
  }

  // Moves the clock on (the in-memory files' times with it).
  void advance(std::chrono::nanoseconds by) { disk_clock_ ? disk_clock_->advance(by) : memory_.advance(by); }

  std::unique_ptr<motor::Motor> make(motor::MotorArgs args) {
    advance(std::chrono::seconds(1));
    args.env = &env;
    if (!args.executor) args.executor = executor;
    return std::make_unique<motor::Motor>(args, out);
  }
  std::unique_ptr<motor::Motor> make() { return make(quiet_args(dir)); }

  // Files of the working directory, through `env`; a file's directory is created with it.
  void write_text(const fs::path& path, const std::string& text) { testing::write_text(env, path, text); }
  std::string read_text(const fs::path& path) { return env.read_file(path); }
  void write_notebook(const fs::path& path, const std::vector<std::string>& sources) {
    testing::write_notebook(env, path, sources);
  }
  // Every step's notebook, tiny, with its parameters cell.
  void write_registry_notebooks() {
    for (const motor::StepDefinition& step : motor::step_table()) write_notebook(dir / step.nb, {"params:x = '" + step.kod + "'"});
  }

 private:
  MemoryEnv memory_;
  std::unique_ptr<TempDir> disk_;
  std::unique_ptr<FakeClockEnv> disk_clock_;

 protected:
  Env& env;
  fs::path dir;
  StringSink out;
  std::shared_ptr<FakeExecutor> executor = std::make_shared<FakeExecutor>(env);
};

}  // namespace vordak::testing
