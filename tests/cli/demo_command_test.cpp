// `vordak demo --no-run`: the source extracts and the data-source path file. A whole demo
// run takes about a minute and is left to `make demo`.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "motor/work_dir_lock.h"
#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const std::vector<std::string> kDataSourceKeys = {
    "kik_data_ham_csv", "kredi_db",       "yis_tahmin_data", "eus_tahmin_data",   "eus_hedef_muta",
    "eus_sql_kapsam_muta", "statik_db",   "yis_train_data",  "rkd_donem_data",    "memzuc_data_donem",
    "raporlama_depo"};

std::string query(const std::string& sql) {
  const ChildResult result = run_vordak({"sql", "--db", ":memory:", "--csv", sql});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

TEST(DemoCommand, WritesAnExtractForEveryDataSourceKeyAndThePathFile) {
  TempDir dir;
  const fs::path work = dir / "demo";
  const ChildResult result =
      run_vordak({"demo", "--no-run", "--work-dir", work.string(), "--firms", "500", "--periods", "5"});
  ASSERT_EQ(result.exit_status, 0) << result.err;

  const ordered_json paths = ordered_json::parse(read_text(work / "local_data_paths.json"));
  std::vector<std::string> keys;
  for (const auto& [key, value] : paths.items()) {
    keys.push_back(key);
    EXPECT_EQ(value, (work / "external_data" / key).string());
    EXPECT_FALSE(fs::is_empty(value.get<std::string>())) << key;
  }
  EXPECT_EQ(keys, kDataSourceKeys);
  EXPECT_TRUE(fs::exists(work / "vrd_pipeline.ipynb"));
  EXPECT_FALSE(fs::exists(work / "external_data" / ".portfolio.duckdb"));

  const std::string root = (work / "external_data").string();
  // Every firm and period in the monitoring extract, one file per period.
  EXPECT_EQ(query("SELECT count(*) AS n, count(DISTINCT filename) AS files FROM read_csv('" + root +
                  "/kik_data_ham_csv/*.csv', delim=';', header=true, filename=true)"),
            "n,files\n2500,5\n");
  // The EUS extract fills exactly the monitoring extract's missing scores.
  EXPECT_EQ(query("SELECT count(*) AS unpatched FROM read_csv('" + root +
                  "/kik_data_ham_csv/*.csv', delim=';', header=true, all_varchar=true) k "
                  "JOIN read_csv('" + root + "/eus_tahmin_data/*.csv', delim=';', header=true, all_varchar=true) e "
                  "USING (MUTA_NO, DONEM) WHERE k.VRD_SKOR IS DISTINCT FROM e.VRD_SKOR AND k.VRD_SKOR IS NOT NULL"),
            "unpatched\n0\n");
  EXPECT_EQ(query("SELECT count(*) AS n FROM read_parquet('" + root + "/kredi_db/*.parquet')"), "n\n2500\n");
  EXPECT_EQ(query("SELECT count(DISTINCT DONEM) AS periods FROM read_parquet('" + root + "/rkd_donem_data/*.parquet')"),
            "periods\n5\n");
  EXPECT_EQ(query("SELECT count(*) AS firms FROM read_csv('" + root +
                  "/statik_db/statik_firma.txt', delim='|', header=true)"),
            "firms\n500\n");
}

TEST(DemoCommand, ReplacesOnlyADirectoryThatADemoMade) {
  TempDir dir;
  const fs::path work = dir / "work";
  write_text(work / "local_data_paths.json", "{\"kredi_db\": \"/mnt/z/kredi\"}");
  const std::vector<std::string> demo = {"demo", "--no-run", "--work-dir", work.string(), "--firms", "500", "--periods", "4"};
  const ChildResult refused = run_vordak(demo);
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("--work-dir: " + work.string() + " is not empty and not a demo directory"), std::string::npos)
      << refused.err;
  EXPECT_EQ(read_text(work / "local_data_paths.json"), "{\"kredi_db\": \"/mnt/z/kredi\"}");

  fs::remove_all(work);
  ASSERT_EQ(run_vordak(demo).exit_status, 0);
  write_text(work / "stale.txt", "from the earlier demo");
  const ChildResult again = run_vordak(demo);
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_FALSE(fs::exists(work / "stale.txt")) << "an earlier demo's directory is replaced whole";
  EXPECT_TRUE(fs::exists(work / ".vordak-demo"));
}

// Through a symbolic link to its directory, a demo keeps its lock file while it works. The
// demo is held at its first line of output, written once the directory was cleared, by a
// pipe that has room for no more until the test reads it.
TEST(DemoCommand, ThroughALinkedWorkDirTheLockStaysHeld) {
  TempDir dir;
  const fs::path real = dir / "real";
  const fs::path link = dir / "link";
  fs::create_directories(real);
  fs::create_directory_symlink(real, link);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const int capacity = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(capacity, 0);
  const std::string filler(static_cast<std::size_t>(capacity) - 1, 'x');
  ASSERT_EQ(::write(out[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
  const pid_t demo = ::fork();
  ASSERT_GE(demo, 0);
  if (demo == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const std::string work = link.string();
    ::execl(VORDAK_BINARY, VORDAK_BINARY, "demo", "--no-run", "--work-dir", work.c_str(), "--firms", "500", "--periods",
            "4", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  // Blocked in its first write to standard output (system call 1), the demo has cleared
  // its directory and holds the lock.
  const fs::path syscall = "/proc/" + std::to_string(demo) + "/syscall";
  const auto writing = [&] { return read_text(syscall).starts_with("1 0x1 "); };
  for (int i = 0; i < 12000 && !writing(); ++i) ::poll(nullptr, 0, 5);
  if (writing()) {
    EXPECT_TRUE(fs::exists(real / ".vordak.lock")) << "the demo removed its own lock file";
    EXPECT_THROW(motor::WorkDirLock(real, Env::system()), motor::WorkDirBusy);
  } else {
    ADD_FAILURE() << "the demo never wrote its first line";
    ::kill(demo, SIGKILL);
  }
  char buffer[4096];
  while (::read(out[0], buffer, sizeof buffer) > 0) {
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(demo, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fs::exists(real / "local_data_paths.json"));
}

// Below these sizes a demo's ML backtest finds no YI event to learn from (50 firms over
// 4 periods did): refused before anything is made.
TEST(DemoCommand, RefusesPortfoliosTooSmallForEveryStep) {
  TempDir dir;
  const fs::path work = dir / "demo";
  for (const auto& [option, value, message] : {std::tuple("--periods", "3", "--periods must be at least 4"),
                                               std::tuple("--firms", "50", "--firms must be at least 500")}) {
    const ChildResult result = run_vordak({"demo", "--work-dir", work.string(), option, value});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(work));
}

}  // namespace
}  // namespace vordak::testing
