// A run stopped by a step's time limit or by a signal: the real binary, real notebooks, the
// real kernel. This test process adopts orphans, so whatever a run leaves behind is found
// below it in /proc.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "cli/cli_test_support.h"
#include "core/child_process.h"
#include "process_support.h"
#include "test_support.h"

namespace vordak {
namespace {

namespace fs = std::filesystem;
using testing::adopt_orphans;
using testing::descendants;
using testing::leftovers;
using testing::running;
using testing::TempDir;

// transform runs `cells` after its parameters cell; marts records that it ran.
void write_run_notebooks(const fs::path& dir, const std::vector<std::string>& cells) {
  std::vector<std::string> transform = {"DB_PATH = ''"};
  transform.insert(transform.end(), cells.begin(), cells.end());
  ordered_json nb = testing::notebook(transform);
  nb["cells"][0]["metadata"]["tags"] = {"parameters"};
  testing::write_text(dir / "nb_02_transform.ipynb", nb.dump(1));
  nb = testing::notebook({"DB_PATH = ''", "open('ran.txt', 'a').write('marts\\n')"});
  nb["cells"][0]["metadata"]["tags"] = {"parameters"};
  testing::write_text(dir / "nb_03_marts.ipynb", nb.dump(1));
  // What the marts read and a new directory never ran comes first.
  nb = testing::notebook({"DB_PATH = ''"});
  nb["cells"][0]["metadata"]["tags"] = {"parameters"};
  testing::write_text(dir / "nb_06a_diag_extract.ipynb", nb.dump(1));
  testing::write_text(dir / "nb_06b_diag_analysis.ipynb", nb.dump(1));
}

// What a child that has ended left on one of its streams.
std::string read_available(int fd) {
  std::string text;
  pollfd polled = {fd, POLLIN, 0};
  while (::poll(&polled, 1, 1000) > 0) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

std::vector<std::string> run_args(const fs::path& dir) {
  return {"run", "--work-dir", dir.string(), "--skip-ingest", "--skip-ml", "--skip-backtest"};
}

// A FIFO, dir/started, through which a step's first cell tells the test that it runs.
class StartSignal {
 public:
  explicit StartSignal(const fs::path& dir) : path_(dir / "started") {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    keep_open_ = ::open(path_.c_str(), O_WRONLY);
  }
  ~StartSignal() {
    ::close(reader_);
    ::close(keep_open_);
  }
  StartSignal(const StartSignal&) = delete;
  StartSignal& operator=(const StartSignal&) = delete;

  // Waits up to five minutes for the cell; what it wrote, empty when it never came.
  std::string wait() const {
    pollfd polled = {reader_, POLLIN, 0};
    if (::poll(&polled, 1, 300'000) != 1) return "";
    char text[32] = {};
    return ::read(reader_, text, sizeof text - 1) > 0 ? text : "";
  }

 private:
  fs::path path_;
  int reader_ = -1, keep_open_ = -1;
};

// The command line of a run of `dir`.
std::vector<std::string> run_command(const fs::path& dir) {
  std::vector<std::string> argv = {VORDAK_BINARY};
  const std::vector<std::string> args = run_args(dir);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Starts a process in a session of its own, as a cell may, and writes its pid to `file`.
std::string start_sleeper(const std::string& file) {
  return "import subprocess\n"
         "sleeper = subprocess.Popen(['sleep', '300'], start_new_session=True)\n"
         "with open('" + file + "', 'w') as f:\n"
         "    f.write('%d\\n' % sleeper.pid)";
}

// When the executed notebook's first cell started, from nbclient's cell timing metadata
// ("2025-03-01T14:15:02.123456Z").
std::chrono::system_clock::time_point notebook_start(const fs::path& executed) {
  const ordered_json notebook = ordered_json::parse(testing::read_text(executed));
  const std::string stamp = notebook["cells"][0]["metadata"]["execution"]["iopub.execute_input"];
  std::tm time = {};
  double seconds = 0;
  std::sscanf(stamp.c_str(), "%d-%d-%dT%d:%d:%lf", &time.tm_year, &time.tm_mon, &time.tm_mday, &time.tm_hour,
              &time.tm_min, &seconds);
  time.tm_year -= 1900;
  time.tm_mon -= 1;
  return std::chrono::system_clock::from_time_t(::timegm(&time)) +
         std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

std::vector<fs::path> unfinished_files(const fs::path& dir) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") found.push_back(entry.path());
  }
  return found;
}

TEST(Stopping, StepPastItsLimitEndsInHataAndTheRunGoesOnLeavingNoProcess) {
  adopt_orphans();
  TempDir dir;
  write_run_notebooks(dir.path(), {start_sleeper("sleeper.txt"), "while True:\n    pass"});
  std::vector<std::string> args = run_args(dir.path());
  args.insert(args.end(), {"--step-timeout", "5"});

  const ChildResult result = testing::run_vordak(args);
  const auto ended = std::chrono::system_clock::now();
  EXPECT_EQ(result.exit_status, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("s\n  zaman aşımı (5 s)\n"), std::string::npos) << result.out;
  // The limit counts from the kernel being ready, so a slow kernel start does not count.
  const fs::path executed = fs::directory_iterator(dir / "seasons")->path() / "logs" / "adim_transform_nb_02_transform.ipynb";
  EXPECT_LT(ended - notebook_start(executed), std::chrono::seconds(10)) << "the notebook is kept, as far as it got";
  EXPECT_NE(result.out.find("OK:3 Atlandı:0 Hata:1"), std::string::npos) << result.out;
  EXPECT_EQ(testing::read_text(dir / "ran.txt"), "marts\n") << "the run goes on after the failed step";

  const pid_t sleeper = std::stoi(testing::read_text(dir / "sleeper.txt"));
  EXPECT_FALSE(running(sleeper));
  EXPECT_EQ(leftovers(), std::vector<pid_t>{});
  EXPECT_EQ(unfinished_files(dir.path()), std::vector<fs::path>{});
}

TEST(Stopping, SignalDuringAStepStopsEveryProcessAndEndsTheRunByTheSignal) {
  adopt_orphans();
  for (const auto& [signal, status] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
    TempDir dir;
    // The cell tells this test that it runs, then never ends.
    const StartSignal started(dir.path());
    write_run_notebooks(dir.path(), {start_sleeper("started"), "while True:\n    pass"});
    std::vector<std::string> command = run_command(dir.path());
    command.insert(command.end(), {"--metrics-file", (dir / "vordak.prom").string()});
    RunningChild run(command);
    const std::string said = started.wait();
    ASSERT_FALSE(said.empty()) << "the step never started";
    const pid_t sleeper = std::atoi(said.c_str());

    ::kill(run.pid(), signal);
    EXPECT_EQ(run.wait(), status) << signal;
    // One line on standard error and at the end of run.log, and the run recorded as cut off.
    const fs::path season = fs::directory_iterator(dir / "seasons")->path();
    const std::string line = std::string("vordak run: ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                             " ile kesildi; günlük: " + (season / "run.log").string() + "\n";
    EXPECT_EQ(read_available(run.error()), line);
    EXPECT_TRUE(testing::read_text(season / "run.log").ends_with(line));
    const ordered_json record = ordered_json::parse(testing::read_text(season / "run.json"));
    EXPECT_EQ(std::tuple(record["sira"], record["durum"], record["exit"]), std::tuple(1, "kesildi", status));
    // A monitor sees the night fail, not the last night's success.
    const std::string metrics = testing::read_text(dir / "vordak.prom");
    EXPECT_NE(metrics.find("vordak_run_success{work_dir=\"" + fs::canonical(dir.path()).string() + "\"} 0.0\n"),
              std::string::npos)
        << metrics;
    EXPECT_FALSE(running(sleeper)) << signal;
    EXPECT_EQ(leftovers(), std::vector<pid_t>{}) << signal;
    EXPECT_FALSE(fs::exists(dir / "ran.txt")) << "no later step runs";
    EXPECT_EQ(unfinished_files(dir.path()), std::vector<fs::path>{}) << signal;
  }
}

TEST(Stopping, RunKilledOutrightTakesItsRunnerKernelsAndTheirKeysAlong) {
  adopt_orphans();
  TempDir dir;
  const StartSignal started(dir.path());
  write_run_notebooks(dir.path(), {"from ipykernel import get_connection_file\n"
                                   "open('connection.txt', 'w').write(get_connection_file())\n"
                                   "open('started', 'w').write('x')",
                                   "while True:\n    pass"});
  RunningChild run(run_command(dir.path()));
  ASSERT_FALSE(started.wait().empty()) << "the step never started";
  EXPECT_GE(descendants(run.pid()).size(), 2u) << "a runner and a kernel";
  const fs::path connection = testing::read_text(dir / "connection.txt");
  EXPECT_TRUE(fs::exists(connection));

  ::kill(run.pid(), SIGKILL);
  EXPECT_EQ(run.wait(), 128 + SIGKILL);
  EXPECT_EQ(testing::leftovers_once_ended(), std::vector<pid_t>{});
  EXPECT_FALSE(fs::exists(connection.parent_path())) << "the kernels' keys outlived the run";
}

TEST(Stopping, StepTimeoutComesFromTheOptionBeforeTheEnvironment) {
  const struct {
    const char* variable;  // null: unset
    std::vector<std::string> option;
    int exit_status;
  } cases[] = {
      {nullptr, {"--step-timeout", "0"}, 2},
      {nullptr, {"--step-timeout", "5s"}, 2},
      {nullptr, {"--step-timeout", "31536001"}, 2},
      {"abc", {}, 2},
      {"-3", {}, 2},
      // Valid, or overridden by a valid option: the dry run goes ahead.
      {"abc", {"--step-timeout", "5"}, 0},
      {"60", {}, 0},
      {"", {}, 0},
  };
  TempDir dir;
  testing::write_text(dir / "local_data_paths.json", "{}");
  for (const auto& c : cases) {
    if (c.variable != nullptr) ::setenv("VORDAK_STEP_TIMEOUT", c.variable, 1);
    std::vector<std::string> args = {"plan", "--work-dir", dir.path().string()};
    args.insert(args.end(), c.option.begin(), c.option.end());
    const ChildResult result = testing::run_vordak(args);
    ::unsetenv("VORDAK_STEP_TIMEOUT");
    EXPECT_EQ(result.exit_status, c.exit_status) << (c.variable ? c.variable : "-") << " " << result.err;
    if (c.exit_status == 2) {
      EXPECT_NE(result.err.find("from 1 to 31536000"), std::string::npos) << result.err;
    }
  }
  // The commands that execute notebooks refuse a bad value before they start anything.
  const fs::path demo = dir / "demo";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"run", "--work-dir", dir.path().string()},
                                               {"step", "transform", "--work-dir", dir.path().string()},
                                               {"demo", "--work-dir", demo.string()}}) {
    std::vector<std::string> bad = args;
    bad.insert(bad.end(), {"--step-timeout", "0"});
    EXPECT_EQ(testing::run_vordak(bad).exit_status, 2) << args[0];
  }
  EXPECT_FALSE(fs::exists(demo));
  EXPECT_FALSE(fs::exists(dir / "seasons"));
}

}  // namespace
}  // namespace vordak
