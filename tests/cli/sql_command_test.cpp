#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>

#include "motor/work_dir_lock.h"
#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

constexpr const char* kSetup =
    "CREATE TABLE firma (muta BIGINT, unvan VARCHAR, risk DOUBLE);"
    "INSERT INTO firma VALUES (1, 'Işık; Ltd.', 1500.5), (2, '', NULL), (3, NULL, 2.0);";

TEST(SqlCommand, PrintsTheLastStatementsResultAsCsv) {
  TempDir dir;
  const std::string db = (dir / "vrd.duckdb").string();
  // Semicolons inside literals and comments do not end a statement.
  const ChildResult result = run_vordak(
      {"sql", "--db", db, "--create", "--csv", std::string(kSetup) + " -- a comment; still a comment\n"
                                   "SELECT muta, unvan, risk, 'a\"b' AS q FROM firma ORDER BY muta;"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out,
            "muta,unvan,risk,q\n"
            "1,Işık; Ltd.,1500.5,\"a\"\"b\"\n"
            "2,\"\",,\"a\"\"b\"\n"
            "3,,2.0,\"a\"\"b\"\n");
  EXPECT_EQ(result.err, "");
}

// The arrays the model notebooks load with numpy.load: one file per column, of the dtype
// its kind and nulls call for, the data starting at a multiple of 64 bytes.
TEST(SqlCommand, WritesEachColumnAsANumpyFile) {
  TempDir dir;
  const std::string db = (dir / "vrd.duckdb").string();
  ASSERT_EQ(run_vordak({"sql", "--db", db, "--create", kSetup}).exit_status, 0);
  const ChildResult result = run_vordak({"sql", "--db", db, "--npy", dir.path().string(),
                                         "SELECT muta, unvan, risk, muta > 1 AS b, CASE WHEN muta < 3 THEN muta END AS m "
                                         "FROM firma ORDER BY muta"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "muta,unvan,risk,b,m\n");
  const auto le = [](const auto&... values) {
    std::string bytes;
    (bytes.append(reinterpret_cast<const char*>(&values), sizeof values), ...);
    return bytes;
  };
  const double nan = std::nan("");
  struct Expected {
    std::string descr;
    std::string data;
  };
  std::u32string names = U"Işık; Ltd." + std::u32string(20, U'\0');
  const std::vector<Expected> expected = {
      {"<i8", le(std::int64_t{1}, std::int64_t{2}, std::int64_t{3})},
      {"<U10", std::string(reinterpret_cast<const char*>(names.data()), names.size() * 4)},
      {"<f8", le(1500.5, nan, 2.0)},
      {"<i8", le(std::int64_t{0}, std::int64_t{1}, std::int64_t{1})},
      {"<f8", le(1.0, 2.0, nan)}};
  const auto check = [](const fs::path& file_path, const std::string& descr, std::size_t rows, const std::string& data) {
    const std::string file = read_text(file_path);
    ASSERT_GE(file.size(), 10u);
    const std::size_t header = 10 + static_cast<unsigned char>(file[8]) + 256 * static_cast<unsigned char>(file[9]);
    EXPECT_EQ(file.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    EXPECT_EQ(header % 64, 0u);
    EXPECT_EQ(file.substr(10, header - 10)
                  .find("{'descr': '" + descr + "', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ",), }"),
              0u)
        << file_path;
    EXPECT_EQ(file[header - 1], '\n');
    // NaN differs from itself: the bytes are compared.
    EXPECT_TRUE(file.substr(header) == data) << file_path;
  };
  for (std::size_t c = 0; c < expected.size(); ++c) {
    check(dir / (std::to_string(c) + ".npy"), expected[c].descr, 3, expected[c].data);
  }

  // Over many chunks of rows: an integer column whose first null comes late is float64
  // from its first row, and a text column is as wide as its widest value.
  const fs::path many = dir / "many";
  fs::create_directory(many);
  const ChildResult long_result = run_vordak({"sql", "--db", db, "--npy", many.string(),
                                              "SELECT CASE WHEN i < 5000 THEN i END AS m, 'x' || i AS t "
                                              "FROM range(6000) r(i) ORDER BY i"});
  ASSERT_EQ(long_result.exit_status, 0) << long_result.err;
  std::string floats, texts;
  for (int i = 0; i < 6000; ++i) {
    floats += le(i < 5000 ? static_cast<double>(i) : nan);
    std::u32string text(5, U'\0');
    const std::string digits = "x" + std::to_string(i);
    std::copy(digits.begin(), digits.end(), text.begin());
    texts.append(reinterpret_cast<const char*>(text.data()), text.size() * 4);
  }
  check(many / "0.npy", "<f8", 6000, floats);
  check(many / "1.npy", "<U5", 6000, texts);
}

TEST(SqlCommand, PrintsAnAlignedTableByDefault) {
  TempDir dir;
  const std::string db = (dir / "vrd.duckdb").string();
  ASSERT_EQ(run_vordak({"sql", "--db", db, "--create", kSetup}).exit_status, 0);
  const ChildResult result = run_vordak({"sql", "--db", db, "SELECT muta, unvan FROM firma ORDER BY muta"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out,
            "muta  unvan\n"
            "----  ----------\n"
            "   1  Işık; Ltd.\n"
            "   2\n"
            "   3  NULL\n"
            "(3 satır)\n");
}

TEST(SqlCommand, FailsWithTheDatabaseErrorOnStandardError) {
  TempDir dir;
  const std::string db = (dir / "vrd.duckdb").string();
  const ChildResult bad = run_vordak({"sql", "--db", db, "--create", "--csv", "SELECT * FROM olmayan_tablo"});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("vordak sql: Catalog Error: Table with name olmayan_tablo does not exist", 0), 0u) << bad.err;

  // A failing statement in the middle leaves the last one unrun.
  const ChildResult middle = run_vordak({"sql", "--db", db, "SELECT 1; SELEC 2; SELECT 3"});
  EXPECT_EQ(middle.exit_status, 1);
  EXPECT_NE(middle.err.find("syntax error"), std::string::npos) << middle.err;

  const ChildResult usage = run_vordak({"sql", "SELECT 1"});
  EXPECT_EQ(usage.exit_status, 2);
  EXPECT_NE(usage.err.find("--db PATH is required"), std::string::npos) << usage.err;
}

TEST(SqlCommand, OpensOnlyAnExistingDatabaseUnlessAskedToCreateIt) {
  TempDir dir;
  const fs::path db = dir / "db" / "vrd_mistyped.duckdb";
  fs::create_directories(db.parent_path());
  const ChildResult missing = run_vordak({"sql", "--db", db.string(), "SELECT 1"});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.err, "vordak sql: database file does not exist: " + db.string() + "\n");
  EXPECT_FALSE(fs::exists(db)) << "a mistyped path leaves no empty database";

  EXPECT_EQ(run_vordak({"sql", "--db", db.string(), "--create", "CREATE TABLE t (x INTEGER)"}).exit_status, 0);
  EXPECT_EQ(run_vordak({"sql", "--db", db.string(), "--csv", "SELECT count(*) AS n FROM t"}).out, "n\n0\n");
}

// What arrives on `fd` until `text` is among it (until the end when empty) or the child
// closes it; waits on the child, never on the clock.
std::string read_until(int fd, const std::string& text = "") {
  std::string got;
  while (text.empty() || got.find(text) == std::string::npos) {
    pollfd polled = {fd, POLLIN, 0};
    if (::poll(&polled, 1, 120'000) <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// DuckDB lets one process at a time have a database: `vordak sql` by hand waits for the run
// of its working directory, while the run's own notebooks use the database freely.
TEST(SqlCommand, WaitsForTheRunOfItsWorkingDirectoryWhoseNotebooksGoAhead) {
  TempDir dir;
  const fs::path db = dir / "db" / "vrd.duckdb";
  fs::create_directories(db.parent_path());
  ASSERT_EQ(run_vordak({"sql", "--db", db.string(), "--create", "CREATE TABLE t (x INTEGER)"}).exit_status, 0);
  ASSERT_EQ(::mkfifo((dir / "go").c_str(), 0600), 0);
  write_notebook(dir / "nb_02_transform.ipynb",
                 {"params:DB_PATH = ''", "import vordak\nvordak.sql_script(DB_PATH, 'INSERT INTO t VALUES (1)')",
                  "open('inserted', 'w').close()\nopen('go').read()"});
  write_notebook(dir / "nb_03_marts.ipynb",
                 {"params:DB_PATH = ''", "import vordak\nvordak.sql_script(DB_PATH, 'INSERT INTO t VALUES (2)')"});
  // What the marts read and a new directory never ran comes first.
  for (const char* nb : {"nb_06a_diag_extract.ipynb", "nb_06b_diag_analysis.ipynb"}) write_notebook(dir / nb, {"params:DB_PATH = ''"});
  RunningChild run({VORDAK_BINARY, "run", "--work-dir", dir.path().string(), "--skip-ingest", "--skip-ml",
                    "--skip-backtest"});
  // Held at its second cell, after its own `vordak sql`.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!fs::exists(dir / "inserted") && std::chrono::steady_clock::now() < give_up) ::poll(nullptr, 0, 20);
  ASSERT_TRUE(fs::exists(dir / "inserted")) << "the run's own vordak sql did not go ahead";

  RunningChild by_hand({VORDAK_BINARY, "sql", "--db", db.string(), "--csv", "SELECT count(*) AS n FROM t"});
  const std::string waiting = read_until(by_hand.error(), "\n");
  EXPECT_TRUE(waiting.starts_with("vordak sql: çalışma dizini başka bir çalıştırmada: " + dir.path().string() + " (pid "))
      << waiting;
  EXPECT_TRUE(waiting.ends_with("; bitmesi bekleniyor\n")) << waiting;

  const int go = ::open((dir / "go").c_str(), O_WRONLY);
  ASSERT_EQ(::write(go, "x", 1), 1);
  ::close(go);
  EXPECT_EQ(run.wait(), 0) << "the run is not broken by the command waiting for it";
  EXPECT_EQ(read_until(by_hand.output()), "n\n2\n");
  EXPECT_EQ(by_hand.wait(), 0);
}

// The loads and checks of the ingest notebooks, called by hand, wait for the holder of the
// working directory like `vordak sql`; a holder that is no ancestor of theirs is waited for.
TEST(SqlCommand, LoadAndReconcileByHandWaitForTheHolderOfTheirWorkingDirectory) {
  TempDir dir;
  const fs::path db = dir / "db" / "vrd.duckdb";
  fs::create_directories(db.parent_path());
  ASSERT_EQ(run_vordak({"sql", "--db", db.string(), "--create", "CREATE TABLE t (x INTEGER)"}).exit_status, 0);
  const std::vector<std::vector<std::string>> calls = {
      {"reconcile", "--db", db.string(), "--checks", "[]"},
      {"load", "--db", db.string(), "--dir", dir.path().string(), "--contract",
       R"({"kaynak": "k", "adim": "a", "tablo": "t", "dosyalar": "k_*.parquet", "bicim": "parquet", "sutunlar": [],
           "anahtar": ["x"], "donem": null, "kontroller": []})"}};
  for (const std::vector<std::string>& call : calls) {
    std::optional<motor::WorkDirLock> held(std::in_place, dir.path(), Env::system());
    ::unsetenv(motor::kHeldLockVariable);  // as if another process held it
    std::vector<std::string> argv = {VORDAK_BINARY};
    argv.insert(argv.end(), call.begin(), call.end());
    RunningChild by_hand(argv);
    EXPECT_TRUE(read_until(by_hand.error(), "\n").starts_with("vordak " + call[0] + ": çalışma dizini başka bir çalıştırmada: "))
        << call[0];
    held.reset();
    by_hand.wait();
    EXPECT_FALSE(fs::exists(dir / ".vordak.lock")) << call[0] << " let go of the lock";
  }
}

}  // namespace
}  // namespace vordak::testing
