// A power cut at any moment of a run. The engine is killed with SIGKILL at pseudo-random
// moments of runs of small real notebooks; after each kill every JSON file and notebook
// in the working directory must still parse, and the next run must redo exactly the
// steps the killed run had not finished. The first kill falls while a notebook's own
// `vordak sql` child holds the database: nothing the run started may outlive it.
// Each later kill falls in a slice of its own of the run's output, so that the few kills
// of `make test` still reach every part of the run. VORDAK_KILL_COUNT (default 6) and
// VORDAK_KILL_SEED (default 1) make it longer: .ci/run kills 30 times.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "core/child_process.h"
#include "motor/step_table.h"
#include "process_support.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/kill_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

using Clock = std::chrono::steady_clock;

void kill_descendants() {
  for (int round = 0; round < 50; ++round) {
    const std::vector<pid_t> left = leftovers();
    if (left.empty()) return;
    for (const pid_t pid : left) ::kill(pid, SIGKILL);
    ::poll(nullptr, 0, 20);
  }
}

// True when process `pid` has the file `path` open.
bool holds_open(pid_t pid, const fs::path& path) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error) == path) return true;
  }
  return false;
}

// Every file of the kinds the engine writes parses whole.
void expect_whole_files(const fs::path& work) {
  for (const auto& entry : fs::recursive_directory_iterator(work)) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".json" && ext != ".ipynb")) continue;
    EXPECT_NO_THROW(parse_json(read_text(entry.path()))) << entry.path();
  }
}

// The season each offered step's newest meta record is in.
std::map<std::string, std::string> record_seasons(const fs::path& work, const std::vector<std::string>& steps) {
  std::map<std::string, std::string> found;
  std::vector<std::string> seasons;
  for (const auto& entry : fs::directory_iterator(work / "seasons")) seasons.push_back(entry.path().filename().string());
  std::sort(seasons.rbegin(), seasons.rend());
  for (const std::string& kod : steps) {
    for (const std::string& season : seasons) {
      if (fs::exists(work / "seasons" / season / "meta" / ("adim_" + kod + ".json"))) {
        found[kod] = season;
        break;
      }
    }
  }
  return found;
}

// The decision line of each step in a run's output: true when it ran.
std::map<std::string, bool> decisions(const std::string& out) {
  std::map<std::string, bool> ran;
  std::string step;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = std::min(out.find('\n', start), out.size());
    const std::string line = out.substr(start, end - start);
    if (line.starts_with("  ── ")) step = line.substr(std::string("  ── ").size(), line.find(" | ") - 9);
    if (line.starts_with("  ÇALIŞTIRILIYOR — ")) ran[step] = true;
    if (line.starts_with("  ATLANDI — ")) ran[step] = false;
    start = end + 1;
  }
  return ran;
}

// A line number in slice `slice` of `slices` equal slices of [0, `lines`].
std::size_t line_in_slice(long slice, long slices, std::size_t lines, std::mt19937& random) {
  const auto bound = [&](long at) { return lines * static_cast<std::size_t>(at) / static_cast<std::size_t>(slices); };
  return std::uniform_int_distribution<std::size_t>(bound(slice), bound(slice + 1))(random);
}

// Kills the run `args` while transform's own `vordak sql` child holds the database `db`;
// then nothing the run started may be left, and the next run opens the database. The
// child leaves its kernel's session, so that only the runner can still find it.
void kill_during_own_sql_child(const fs::path& work, const fs::path& db, const std::vector<std::string>& args) {
  write_notebook(work / motor::find_step("transform")->nb,
                 {"params:DB_PATH = ''",
                  "import subprocess, vordak\n"
                  "child = subprocess.Popen([vordak.executable(), 'sql', '--db', DB_PATH,\n"
                  "                          'SELECT count(*) FROM range(1000000000000)'], start_new_session=True)\n"
                  "open('sql.pid', 'w').write(str(child.pid))\n"
                  "child.wait()"});
  std::vector<std::string> argv = {VORDAK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  RunningChild run(argv);
  pid_t sql = 0;
  for (const auto give_up = Clock::now() + std::chrono::minutes(2); Clock::now() < give_up; ::poll(nullptr, 0, 20)) {
    if (sql == 0 && fs::exists(work / "sql.pid")) sql = std::atoi(read_text(work / "sql.pid").c_str());
    if (sql != 0 && holds_open(sql, db)) break;
  }
  ASSERT_TRUE(sql != 0 && holds_open(sql, db)) << "the notebook's vordak sql never opened the database";
  ::kill(run.pid(), SIGKILL);
  EXPECT_EQ(run.wait(), 128 + SIGKILL);
  EXPECT_EQ(leftovers_once_ended(), std::vector<pid_t>{}) << "processes of the killed run are left";
  EXPECT_FALSE(running(sql));

  write_notebook(work / motor::find_step("transform")->nb,
                 {"params:DB_PATH = ''", "import vordak\nvordak.sql(DB_PATH, 'SELECT 1')"});
  const ChildResult next = run_vordak(args);
  ASSERT_EQ(next.exit_status, 0) << next.out << next.err;
}

TEST(KillAtAnyMoment, FilesStayWholeAndTheNextRunRedoesWhatDidNotFinish) {
  adopt_orphans();
  const long count = env_setting("VORDAK_KILL_COUNT", 6);
  std::mt19937 random(static_cast<unsigned>(env_setting("VORDAK_KILL_SEED", 1)));
  TempDir dir;
  const fs::path work = dir / "work";
  const std::vector<std::string> run = {"run", "--work-dir", work.string(), "--skip-ingest"};
  std::vector<std::string> offered;
  for (const std::string& kod : motor::default_run_order()) {
    if (!kod.starts_with("ingest_")) offered.push_back(kod);
  }
  // The first run also runs the steps the offered ones read that it does not offer.
  const auto write_notebooks = [&] {
    for (const motor::StepDefinition& step : motor::step_table()) {
      if (step.kod.starts_with("ingest_")) continue;
      write_notebook(work / step.nb, {"params:DB_PATH = ''", "open('" + step.kod + ".out', 'a').write('x')"});
    }
  };
  write_notebooks();
  write_text(work / "local_data_paths.json", "{}");
  const fs::path db = work / "db" / "vrd.duckdb";
  fs::create_directories(db.parent_path());
  ASSERT_EQ(run_vordak({"sql", "--db", db.string(), "--create", "CREATE TABLE t (x INTEGER)"}).exit_status, 0);
  const ChildResult first = run_vordak(run);
  ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
  const std::size_t full_lines = static_cast<std::size_t>(std::count(first.out.begin(), first.out.end(), '\n'));
  // The first kill comes right after transform finished, before the marts did.
  const std::size_t transform_done = first.out.find("\n  OK ", first.out.find("── transform"));
  const std::size_t after_transform =
      static_cast<std::size_t>(std::count(first.out.begin(), first.out.begin() + transform_done + 1, '\n')) + 1;
  kill_during_own_sql_child(work, db, run);

  std::map<std::string, int> kills_after;  // how many steps had finished when killed
  for (long round = 1; round <= count; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    // A changed transform makes every offered step due.
    write_text(work / motor::find_step("transform")->nb,
               notebook({"params:DB_PATH = ''", "# round " + std::to_string(round)}).dump(1));
    const auto before = record_seasons(work, offered);
    const std::size_t lines = round == 1 ? after_transform : line_in_slice(round - 2, count - 1, full_lines, random);
    const auto extra = std::chrono::milliseconds(round == 1 ? 0 : std::uniform_int_distribution<int>(0, 400)(random));
    run_and_kill(run, lines, extra);
    kill_descendants();
    expect_whole_files(work);

    const auto after = record_seasons(work, offered);
    std::set<std::string> unfinished;
    for (const std::string& kod : offered) {
      if (after.at(kod) == before.at(kod)) unfinished.insert(kod);
    }
    ++kills_after[std::to_string(offered.size() - unfinished.size()) + " finished"];

    const ChildResult next = run_vordak(run);
    ASSERT_EQ(next.exit_status, 0) << next.out << next.err;
    const std::map<std::string, bool> ran = decisions(next.out);
    for (const std::string& kod : offered) {
      // The marts also run again after the steps they read, when those ran.
      const std::vector<std::string>& reads = motor::find_step(kod)->reads;
      const bool after_reads = std::ranges::any_of(reads, [&](const std::string& read) {
        return ran.contains(read) && ran.at(read) && std::ranges::find(offered, read) > std::ranges::find(offered, kod);
      });
      EXPECT_EQ(ran.at(kod), unfinished.contains(kod) || after_reads) << kod << "\n" << next.out;
    }
    expect_whole_files(work);
  }
  std::string spread;
  for (const auto& [finished, kills] : kills_after) spread += " " + finished + ": " + std::to_string(kills);
  std::printf("kills by steps finished:%s\n", spread.c_str());
}

}  // namespace
}  // namespace vordak::testing
