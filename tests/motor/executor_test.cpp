// Runs tiny notebooks through the real kernel (about a second each).
#include "motor/executor.h"

#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <typeindex>
#include <vector>

#include "core/io_error.h"
#include "core/json_writer.h"
#include "motor/bad_notebook.h"
#include "motor/parameter_injection.h"
#include "process_support.h"
#include "test_support.h"

namespace vordak::motor {
namespace {

namespace fs = std::filesystem;
using testing::descendants;
using testing::running;

class ExecutorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vordak_executor_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A notebook of code cells; a cell given as {"parameters", source} carries that tag.
  fs::path write_notebook(const std::string& name, const std::vector<std::pair<std::string, std::string>>& cells,
                          const std::string& kernel = "python3") {
    ordered_json list = ordered_json::array();
    for (const auto& [tag, source] : cells) {
      ordered_json metadata = ordered_json::object();
      if (!tag.empty()) metadata["tags"] = {tag};
      list.push_back({{"cell_type", "code"}, {"execution_count", nullptr}, {"id", "c" + std::to_string(list.size())},
                      {"metadata", metadata}, {"outputs", ordered_json::array()}, {"source", source}});
    }
    const ordered_json document = {
        {"cells", list},
        {"metadata", {{"kernelspec", {{"display_name", "Python 3"}, {"language", "python"}, {"name", kernel}}}}},
        {"nbformat", 4},
        {"nbformat_minor", 5}};
    const fs::path path = dir_ / name;
    Env::system().write_file_atomic(path, notebook_text(document));
    return path;
  }

  void run(const fs::path& input, const fs::path& output, const NotebookParams& parameters,
           const fs::path& cwd) {
    make_default_executor()->execute_notebook(input.string(), output.string(), parameters, cwd.string());
  }

  static ordered_json read_json(const fs::path& path) { return ordered_json::parse(testing::read_text(path)); }

  static std::string text_of(const ordered_json& source) {
    if (source.is_string()) return source.get<std::string>();
    std::string text;
    for (const auto& line : source) text += line.get<std::string>();
    return text;
  }

  fs::path dir_;
};

TEST_F(ExecutorTest, SuccessWritesExecutedNotebookWithInjectedParameters) {
  const fs::path input = write_notebook("in.ipynb", {{"parameters", "X = 0"}, {"", "print(X * 2)"}});
  const fs::path output = dir_ / "out.ipynb";
  StringSink progress;
  make_default_executor({std::nullopt, &progress, nullptr})
      ->execute_notebook(input.string(), output.string(), {{"X", std::int64_t{21}}}, dir_.string());
  // Before each code cell, the injected one included; cleared at the end.
  EXPECT_EQ(progress.text(), "    out.ipynb: hücre 1/3\n    out.ipynb: hücre 2/3\n    out.ipynb: hücre 3/3\n\n");

  const ordered_json executed = read_json(output);
  ASSERT_EQ(executed["cells"].size(), 3u);
  EXPECT_EQ(executed["cells"][1]["metadata"]["tags"], ordered_json::array({"injected-parameters"}));
  const ordered_json& printed = executed["cells"][2];
  EXPECT_EQ(printed["execution_count"], 3);
  ASSERT_EQ(printed["outputs"].size(), 1u);
  EXPECT_EQ(text_of(printed["outputs"][0]["text"]), "42\n");
  // The input notebook itself is left alone.
  EXPECT_EQ(read_json(input)["cells"].size(), 2u);
}

TEST_F(ExecutorTest, FailingCellThrowsNotebookFailureAndStillWritesTheNotebook) {
  const fs::path input = write_notebook("in.ipynb", {{"", "a = 1"}, {"", "b = a\nb / 0"}, {"", "c = 3"}});
  const fs::path output = dir_ / "out.ipynb";
  try {
    run(input, output, {}, dir_);
    FAIL() << "no failure";
  } catch (const NotebookFailure& failure) {
    EXPECT_STREQ(failure.what(), "ZeroDivisionError: division by zero");
    const std::string report = failure.report();
    EXPECT_TRUE(report.starts_with("Hata veren hücre (#3):\nb = a\nb / 0\n\nTraceback:\n")) << report;
    EXPECT_NE(report.find("ZeroDivisionError"), std::string::npos) << report;
    EXPECT_EQ(report.find('\x1b'), std::string::npos) << report;
  }

  const ordered_json executed = read_json(output);
  ASSERT_EQ(executed["cells"].size(), 4u);
  const ordered_json& failed = executed["cells"][2];
  ASSERT_EQ(failed["outputs"].size(), 1u);
  EXPECT_EQ(failed["outputs"][0]["output_type"], "error");
  EXPECT_EQ(failed["outputs"][0]["ename"], "ZeroDivisionError");
  EXPECT_TRUE(executed["cells"][3]["execution_count"].is_null());
}

TEST_F(ExecutorTest, KernelRunsInTheWorkingDirectoryWithDebuggerCheckOff) {
  const fs::path work = dir_ / "çalışma dizini";
  fs::create_directories(work);
  const fs::path input = write_notebook(
      "in.ipynb", {{"", "import os, sys\n"
                        "with open('seen.txt', 'w') as f:\n"
                        "    f.write(os.getcwd() + '|' + sys.path[0] + '|' +\n"
                        "            os.environ.get('PYDEVD_DISABLE_FILE_VALIDATION', '-'))"}});
  run(input, dir_ / "out.ipynb", {}, work);
  // As `python3 -m ipykernel_launcher` started there: the directory first on the path.
  EXPECT_EQ(testing::read_text(work / "seen.txt"), work.string() + "|" + work.string() + "|1");
}

TEST_F(ExecutorTest, TextParametersArriveByteForByteAndIntegersStayIntegers) {
  const std::vector<std::string> values = {
      "/veri/db/vrd.duckdb",
      "tırnak\"içinde'tek'",
      R"(C:\ters\eğik\)",
      "satır\nsonu\r\n\tsekme",
      "\"\"\"; import os; x = \"",
      "Çağrı Işık Öğüt Şükrü İğdır çğıöşü",
      "ayraç\u2028\u0085\x01son",
      "utf8 olmayan \xff\xfe bayt",
  };
  NotebookParams parameters;
  for (std::size_t i = 0; i < values.size(); ++i) parameters.set("V" + std::to_string(i), values[i]);
  parameters.set("TEST_MUTA_COUNT", std::int64_t{5});

  std::string writer =
      "for i in range(" + std::to_string(values.size()) + "):\n"
      "    with open(f'v{i}.bin', 'wb') as f:\n"
      "        f.write(globals()[f'V{i}'].encode('utf-8', 'surrogateescape'))\n"
      "with open('count.txt', 'w') as f:\n"
      "    f.write(type(TEST_MUTA_COUNT).__name__ + ' ' + repr(TEST_MUTA_COUNT + 1))";
  const fs::path input = write_notebook("in.ipynb", {{"parameters", "TEST_MUTA_COUNT = 0"}, {"", writer}});
  run(input, dir_ / "out.ipynb", parameters, dir_);

  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(testing::read_text(dir_ / ("v" + std::to_string(i) + ".bin")), values[i]) << i;
  }
  EXPECT_EQ(testing::read_text(dir_ / "count.txt"), "int 6");
}

TEST_F(ExecutorTest, UnrunnableNotebooksGiveClearErrors) {
  testing::write_text(dir_ / "broken.ipynb", "{\"cells\": [");
  testing::write_text(dir_ / "v3.ipynb", R"({"nbformat": 3, "nbformat_minor": 0, "worksheets": []})");
  const fs::path good = write_notebook("good.ipynb", {{"", "1"}});
  const fs::path no_kernel = write_notebook("nokernel.ipynb", {{"", "1"}}, "no-such-kernel");
  const struct {
    fs::path input;
    fs::path cwd;
    const std::type_info& type;
  } cases[] = {
      {dir_ / "missing.ipynb", dir_, typeid(IoError)},
      {dir_ / "broken.ipynb", dir_, typeid(BadNotebook)},
      {dir_ / "v3.ipynb", dir_, typeid(BadNotebook)},
      {good, dir_ / "no-such-dir", typeid(IoError)},
      {no_kernel, dir_, typeid(std::runtime_error)},
  };
  for (const auto& c : cases) {
    try {
      run(c.input, dir_ / "out.ipynb", {}, c.cwd);
      ADD_FAILURE() << "no error for " << c.input;
    } catch (const NotebookFailure& failure) {
      ADD_FAILURE() << "a notebook failure for " << c.input << ": " << failure.what();
    } catch (const std::exception& error) {
      EXPECT_EQ(std::type_index(typeid(error)), std::type_index(c.type)) << c.input << ": " << error.what();
    }
  }
}

TEST_F(ExecutorTest, EveryNotebookGetsAFreshKernelStoppedWhenItsOutputsAreIn) {
  std::shared_ptr<NotebookExecutor> executor = make_default_executor();
  const std::string record =
      "import os, random\n"
      "from ipykernel import get_connection_file, get_connection_info\n"
      "open('kernels.txt', 'a').write('%d %s %r\\n' % (os.getpid(), 'seen' in globals(), random.random()))\n"
      "open('connections.txt', 'a').write(get_connection_file() + '\\n')\n"
      "open('transports.txt', 'a').write(get_connection_info(unpack=True)['transport'] + '\\n')\n"
      "seen = True";
  const fs::path input = write_notebook("in.ipynb", {{"", record}});
  for (int i = 0; i < 3; ++i) {
    executor->execute_notebook(input.string(), (dir_ / ("out" + std::to_string(i) + ".ipynb")).string(), {}, dir_.string());
  }
  std::istringstream kernels(testing::read_text(dir_ / "kernels.txt"));
  std::set<pid_t> pids;
  std::set<std::string> draws;
  pid_t pid;
  std::string seen, draw;
  while (kernels >> pid >> seen >> draw) {
    EXPECT_EQ(seen, "False") << "state from an earlier notebook";
    EXPECT_FALSE(running(pid)) << "the kernel outlived its notebook";
    pids.insert(pid);
    draws.insert(draw);
  }
  EXPECT_EQ(pids.size(), 3u);
  EXPECT_EQ(draws.size(), 3u) << "kernels share a random state";

  // Each kernel's key is in a directory of the runner's own, not loose in the temporary
  // directory, and goes with its kernel.
  std::istringstream connections(testing::read_text(dir_ / "connections.txt"));
  std::set<fs::path> connection_dirs;
  for (std::string file; std::getline(connections, file);) {
    EXPECT_FALSE(fs::exists(file)) << file;
    connection_dirs.insert(fs::path(file).parent_path());
  }
  ASSERT_EQ(connection_dirs.size(), 1u);
  const fs::path connection_dir = *connection_dirs.begin();
  // The kernels listen on Unix sockets there: no TCP port for another process to take
  // between its choice and the kernel's bind.
  EXPECT_EQ(testing::read_text(dir_ / "transports.txt"), "ipc\nipc\nipc\n");
  EXPECT_EQ(connection_dir.parent_path(), fs::temp_directory_path());
  EXPECT_TRUE(connection_dir.filename().string().starts_with("vordak-kernels-")) << connection_dir;
  EXPECT_EQ(fs::status(connection_dir).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);

  executor.reset();
  EXPECT_EQ(descendants(::getpid()), std::vector<pid_t>{}) << "the runner and its spare kernel outlived the executor";
  EXPECT_FALSE(fs::exists(connection_dir)) << "the spare kernel's key is left";
}

// Where the sockets' paths would not fit a Unix socket, the kernels listen on loopback TCP.
TEST_F(ExecutorTest, AVeryLongTemporaryDirectoryGivesKernelsOnLoopback) {
  const fs::path long_temporary = dir_ / std::string(90, 't');
  fs::create_directories(long_temporary);
  const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", long_temporary.c_str(), 1);
  const fs::path input = write_notebook(
      "in.ipynb", {{"", "from ipykernel import get_connection_info\n"
                             "open('transport.txt', 'w').write(get_connection_info(unpack=True)['transport'])"}});
  run(input, dir_ / "out.ipynb", {}, dir_);
  saved.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", saved.c_str(), 1);
  EXPECT_EQ(testing::read_text(dir_ / "transport.txt"), "tcp");
}

// A run killed with its whole process group cannot remove its connection directory; a
// later run does, and leaves alone a living run's (locked) and one just made.
TEST_F(ExecutorTest, ConnectionDirectoriesOfKilledRunsAreRemovedByALaterRun) {
  const fs::path temporary = dir_ / "tmp";
  const auto left = [&](const std::string& name, std::chrono::hours age) {
    fs::create_directories(temporary / name);
    testing::write_text(temporary / name / "kernel-1.json", "{}");
    fs::last_write_time(temporary / name, fs::file_time_type::clock::now() - age);
    return temporary / name;
  };
  const fs::path killed = left("vordak-kernels-killed", std::chrono::hours(2));
  const fs::path living = left("vordak-kernels-living", std::chrono::hours(2));
  const fs::path just_made = left("vordak-kernels-new", std::chrono::hours(0));
  const fs::path other = left("another-program", std::chrono::hours(2));
  const int living_lock = ::open(living.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(living_lock, LOCK_EX), 0);

  const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", temporary.c_str(), 1);
  const fs::path input = write_notebook(
      "in.ipynb", {{"", "import fcntl, os, ipykernel\n"
                        "fd = os.open(os.path.dirname(ipykernel.get_connection_file()), os.O_RDONLY)\n"
                        "try: fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB); open('lock.txt', 'w').write('free')\n"
                        "except BlockingIOError: open('lock.txt', 'w').write('locked')"}});
  run(input, dir_ / "out.ipynb", {}, dir_);
  saved.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", saved.c_str(), 1);
  ::close(living_lock);

  EXPECT_EQ(testing::read_text(dir_ / "lock.txt"), "locked") << "the run's own directory is not locked";
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_TRUE(fs::exists(living / "kernel-1.json"));
  EXPECT_TRUE(fs::exists(just_made / "kernel-1.json"));
  EXPECT_TRUE(fs::exists(other / "kernel-1.json"));
}

// The operator reads why a kernel could not start in the error itself.
TEST_F(ExecutorTest, AKernelThatDiesStartingIsReportedWithWhatItSaid) {
  const fs::path kernels = dir_ / "jupyter" / "kernels" / "olu";
  fs::create_directories(kernels);
  testing::write_text(kernels / "kernel.json",
                      R"j({"argv": ["python3", "-c", "import sys; sys.exit('çekirdek açılamadı: bağlantı noktası dolu')",)j"
                      R"j( "{connection_file}"], "display_name": "Ölü", "language": "python"})j");
  ::setenv("JUPYTER_PATH", (dir_ / "jupyter").c_str(), 1);
  const fs::path input = write_notebook("in.ipynb", {{"", "1"}}, "olu");
  try {
    run(input, dir_ / "out.ipynb", {}, dir_);
    ADD_FAILURE() << "a dead kernel ran the notebook";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("kernel başlatılamadı"));
    EXPECT_THAT(error.what(), ::testing::HasSubstr("çekirdek açılamadı: bağlantı noktası dolu"));
  }
  ::unsetenv("JUPYTER_PATH");
}

// The fork server dies with the notebook that kills it, the runner between two
// notebooks: each is started again, and the next notebook runs.
TEST_F(ExecutorTest, ADeadForkServerOrRunnerIsStartedAgainForTheNextNotebook) {
  std::shared_ptr<NotebookExecutor> executor = make_default_executor();
  const fs::path quick = write_notebook("quick.ipynb", {{"", "print('sonraki')"}});
  const auto quick_runs = [&](const std::string& name) {
    const fs::path output = dir_ / (name + ".ipynb");
    executor->execute_notebook(quick.string(), output.string(), {}, dir_.string());
    return text_of(read_json(output)["cells"][1]["outputs"][0]["text"]) == "sonraki\n";
  };
  // The kernel's parent is the fork server, and the fork server's the runner.
  const std::string parents =
      "import os, signal\n"
      "def parent_of(pid):\n"
      "    return int(open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()[1])\n"
      "fork_server = os.getppid()\n"
      "open('runner.pid', 'w').write(str(parent_of(fork_server)))";
  const fs::path kills_server =
      write_notebook("kills_server.ipynb", {{"", parents}, {"", "os.kill(fork_server, signal.SIGKILL)\nwhile True:\n    pass"}});
  EXPECT_THROW(executor->execute_notebook(kills_server.string(), (dir_ / "out.ipynb").string(), {}, dir_.string()),
               NotebookFailure);
  EXPECT_TRUE(quick_runs("after_server")) << "a dead fork server fails the next notebook";

  const pid_t runner = std::stoi(testing::read_text(dir_ / "runner.pid"));
  ::kill(runner, SIGKILL);
  ASSERT_TRUE(testing::wait_until_ended(runner));
  EXPECT_TRUE(quick_runs("after_runner")) << "a dead runner fails the next notebook";
  EXPECT_TRUE(quick_runs("again"));
}

// The steady clock, an hour ahead once `marker` exists: the limit passes as soon as the
// notebook says so, not after real seconds.
class JumpingClock : public LimitClock {
 public:
  explicit JumpingClock(fs::path marker) : marker_(std::move(marker)) {}
  time_point now() const override {
    return std::chrono::steady_clock::now() + (fs::exists(marker_) ? std::chrono::hours(1) : std::chrono::hours(0));
  }

 private:
  fs::path marker_;
};

TEST_F(ExecutorTest, NotebookPastItsLimitIsStoppedWithAllItStartedAndTheRunnerGoesOn) {
  std::shared_ptr<NotebookExecutor> executor =
      make_default_executor({std::chrono::seconds(2), nullptr, std::make_shared<JumpingClock>(dir_ / "limit_passed")});
  // The first cell starts a process in a session of its own and one that leaves its parent
  // behind, then moves the clock past the limit; the second never ends.
  const std::string start =
      "import subprocess\n"
      "p = subprocess.Popen(['sleep', '300'], start_new_session=True)\n"
      "q = subprocess.run(['sh', '-c', 'setsid sleep 300 >/dev/null 2>&1 & echo $!'], capture_output=True, text=True)\n"
      "print(p.pid, q.stdout.strip())\n"
      "open('limit_passed', 'w').close()";
  const fs::path looping = write_notebook("loop.ipynb", {{"", start}, {"", "while True:\n    pass"}});
  const fs::path output = dir_ / "out.ipynb";
  try {
    executor->execute_notebook(looping.string(), output.string(), {}, dir_.string());
    FAIL() << "no failure";
  } catch (const NotebookFailure& failure) {
    EXPECT_STREQ(failure.what(), "zaman aşımı (2 s)");
    EXPECT_TRUE(failure.report().starts_with("Hata veren hücre (#3):\nwhile True:\n    pass\n")) << failure.report();
  }
  // The notebook is kept as far as it got.
  const ordered_json executed = read_json(output);
  ASSERT_EQ(executed["cells"][1]["outputs"].size(), 1u) << executed.dump(1);
  const std::string started = text_of(executed["cells"][1]["outputs"][0]["text"]);
  for (const pid_t pid : {std::stoi(started), std::stoi(started.substr(started.find(' ')))}) {
    EXPECT_FALSE(running(pid)) << "left running: " << pid;
  }

  const fs::path quick = write_notebook("quick.ipynb", {{"", "print('sonraki')"}});
  executor->execute_notebook(quick.string(), (dir_ / "quick_out.ipynb").string(), {}, dir_.string());
  EXPECT_EQ(text_of(read_json(dir_ / "quick_out.ipynb")["cells"][1]["outputs"][0]["text"]), "sonraki\n");
  executor.reset();
  EXPECT_EQ(descendants(::getpid()), std::vector<pid_t>{});
}

TEST_F(ExecutorTest, DeadKernelIsANotebookFailure) {
  const fs::path input = write_notebook("in.ipynb", {{"", "import os\nos._exit(3)"}});
  EXPECT_THROW(run(input, dir_ / "out.ipynb", {}, dir_), NotebookFailure);
  EXPECT_TRUE(fs::exists(dir_ / "out.ipynb"));
}

}  // namespace
}  // namespace vordak::motor
