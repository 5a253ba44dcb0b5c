#include "motor/executor.h"

#include <filesystem>
#include <system_error>

#include "core/child_process.h"
#include "core/console.h"
#include "core/env.h"
#include "core/io_error.h"
#include "core/json_writer.h"
#include "core/text.h"
#include "motor/bad_notebook.h"
#include "motor/notebook_runner.h"
#include "motor/parameter_injection.h"
#include "motor/paths.h"

namespace vordak::motor {

namespace {

namespace fs = std::filesystem;

// The `vordak` binary when it is the running program, for the notebooks' helpers to call.
std::optional<fs::path> running_vordak_binary() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error || self.filename() != "vordak") return std::nullopt;
  return self;
}

// Debian's interpreter, the one that has nbclient and ipykernel; the first python3 on
// PATH may be another.
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kRunnerScript = "run_notebook.py";

// Cell progress from the runner's channel, as lines of a progress sink.
class ProgressLines {
 public:
  ProgressLines(std::string name, Sink& sink) : name_(std::move(name)), sink_(sink) {}
  ~ProgressLines() {
    if (shown_) sink_.line("");
  }
  ProgressLines(const ProgressLines&) = delete;
  ProgressLines& operator=(const ProgressLines&) = delete;

  void show(const ordered_json& message) {
    const auto step = message.find("progress");
    if (step == message.end() || !step->is_array() || step->size() != 2) return;
    sink_.line("    " + name_ + ": hücre " + (*step)[0].dump() + "/" + (*step)[1].dump());
    shown_ = true;
  }

 private:
  std::string name_;
  Sink& sink_;
  bool shown_ = false;
};

std::string text_member(const ordered_json& message, const char* name) {
  const auto found = message.find(name);
  return found != message.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The last lines of what the runner printed on standard error, to explain a crash.
std::string error_tail(const std::string& err) {
  constexpr std::size_t kKeep = 2000;
  std::string tail = strip(err.size() > kKeep ? err.substr(err.size() - kKeep) : err);
  return tail.empty() ? std::string() : "\n" + tail;
}

NotebookFailure notebook_failure(const ordered_json& status) {
  const std::string name = text_member(status, "ename");
  const std::string value = text_member(status, "evalue");
  std::string message = value.empty() ? name : name + ": " + value;
  std::string report;
  const auto index = status.find("cell_index");
  if (index != status.end() && index->is_number_integer()) {
    report += "Hata veren hücre (#" + std::to_string(index->get<std::int64_t>() + 1) + "):\n";
    report += text_member(status, "cell");
    if (!report.ends_with('\n')) report += '\n';
    report += '\n';
  }
  report += "Traceback:\n" + text_member(status, "traceback");
  if (!report.ends_with('\n')) report += '\n';
  return NotebookFailure(message, report);
}

std::string limit_text(std::chrono::seconds limit) { return "zaman aşımı (" + std::to_string(limit.count()) + " s)"; }

// Our own executor: the parameters are injected here, the notebooks are executed by the
// package's nbclient runner under the system interpreter, one runner for all of them.
class NbclientExecutor : public NotebookExecutor {
 public:
  explicit NbclientExecutor(const ExecutorOptions& options) : options_(options) {}

  void execute_notebook(const std::string& input_path, const std::string& output_path,
                        const NotebookParams& parameters, const std::string& cwd) override {
    // Found at each call: a missing runner fails the step, not the engine's construction.
    const fs::path runner_script = paths::python_package_dir() / kRunnerScript;
    if (!fs::is_regular_file(runner_script)) {
      throw IoError::missing("notebook çalıştırıcısı bulunamadı: " + runner_script.string(), runner_script);
    }
    ordered_json notebook = read_notebook(input_path, Env::system());
    try {
      inject_parameters(notebook, parameters);
    } catch (const BadNotebook& error) {
      throw BadNotebook(std::string(error.what()) + ": " + input_path, input_path);
    }
    const fs::path work_dir = fs::absolute(cwd.empty() ? fs::current_path() : fs::path(cwd));
    if (!fs::is_directory(work_dir)) {
      throw IoError::missing("çalışma dizini bulunamadı: " + work_dir.string(), work_dir);
    }

    // As papermill does, the parameterized notebook is at the output path before it runs;
    // the runner executes it there and writes it back, finished or failed.
    const fs::path output = fs::absolute(output_path);
    Env::system().write_file_atomic(output, notebook_text(notebook));

    NotebookRunner& runner = running_runner(runner_script);
    ProgressLines progress_lines(output.filename().string(),
                                 options_.progress != nullptr ? *options_.progress : terminal_progress());
    const RunnerAnswer answer = runner.execute(
        output, work_dir, [&progress_lines](const ordered_json& message) { progress_lines.show(message); },
        options_.step_timeout);
    if (!runner.alive()) runner_.reset();

    const std::string kind = text_member(answer.status, "status");
    // A notebook that reached its end as its limit passed has succeeded.
    if (kind == "ok") return;
    if (answer.timed_out) {
      const std::string message = limit_text(*options_.step_timeout);
      if (kind == "failed") throw NotebookFailure(message, notebook_failure(answer.status).report());
      throw std::runtime_error(message);
    }
    if (kind == "failed") throw notebook_failure(answer.status);
    if (kind == "unavailable") {
      // A kernel that died starting said why on standard error.
      throw std::runtime_error("notebook çalıştırılamadı: " + input_path + ": " + text_member(answer.status, "message") +
                               error_tail(answer.err_tail));
    }
    throw std::runtime_error("notebook çalıştırıcısı beklenmedik biçimde sona erdi (çıkış kodu " +
                             std::to_string(answer.exit_status.value_or(-1)) + "): " + input_path +
                             error_tail(answer.err_tail));
  }

 private:
  // The runner, started at the first notebook and again after one was stopped or died
  // (its fork server, should it die, the runner starts again itself).
  NotebookRunner& running_runner(const fs::path& runner_script) {
    if (runner_ && runner_->alive()) return *runner_;
    runner_.reset();
    std::vector<std::string> argv = {kPython, runner_script.string()};
    if (const std::optional<fs::path> exe = running_vordak_binary()) argv.push_back("--vordak-exe=" + exe->string());
    try {
      runner_ = std::make_unique<NotebookRunner>(argv, options_.clock ? *options_.clock : LimitClock::steady());
    } catch (const ChildError& error) {
      throw std::runtime_error(std::string("notebook çalıştırıcısı başlatılamadı: ") + error.what());
    }
    return *runner_;
  }

  ExecutorOptions options_;
  std::unique_ptr<NotebookRunner> runner_;
};

}  // namespace

// papermill itself is not used even when installed: its command line turns text that
// looks like a number into a number, and it reports failures only as console text.
std::shared_ptr<NotebookExecutor> make_default_executor(const ExecutorOptions& options) {
  return std::make_shared<NbclientExecutor>(options);
}

}  // namespace vordak::motor
