#include "pipeline/duckdb_connection.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

TEST(Connection, BringsEveryColumnTypeThroughWithItsValue) {
  TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  const Table table = con.query(
      "SELECT 1::TINYINT a, -2::SMALLINT b, 3::INTEGER c, 9007199254740993::BIGINT d, 200::UTINYINT e,"
      " 170141183460469231731687303715884105727::HUGEINT f, 12::HUGEINT g, 1234.56::DECIMAL(18,2) h,"
      " 0.1::FLOAT i, 2.5::DOUBLE j, 'Şişli uzun bir metin' k, true l, DATE '2024-06-30' m,"
      " TIMESTAMP '2024-06-30 12:00:00' n, TIMESTAMP '2024-06-30 12:00:00.5' o, NULL::INTEGER p,"
      " 123456789012345678.9::DECIMAL(38,1) q");
  EXPECT_EQ(table.row_json(0).dump(),
            R"({"a":1,"b":-2,"c":3,"d":9007199254740993,"e":200,"f":1.7014118346046923e+38,"g":12,"h":1234.56,)"
            R"("i":0.1,"j":2.5,"k":"Şişli uzun bir metin","l":true,"m":"2024-06-30","n":"2024-06-30 12:00:00",)"
            R"("o":"2024-06-30 12:00:00.5","p":null,"q":1.2345678901234568e+17})");
  EXPECT_EQ(table.column("f").kind(), ColumnKind::kFloat);
  EXPECT_EQ(table.column("g").kind(), ColumnKind::kInteger);
}

TEST(Connection, BindsOneListParameterAcrossManyChunks) {
  TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  con.execute("CREATE TABLE t AS SELECT i AS id, i % 7 AS m FROM range(10000) r(i)");
  std::vector<std::int64_t> keys;
  for (std::int64_t i = 0; i < 10000; i += 2) keys.push_back(i);
  const Table even = con.query("SELECT id FROM t WHERE id = ANY($1) ORDER BY id", keys);
  ASSERT_EQ(even.num_rows(), 5000u);
  EXPECT_EQ(even.column(0).integer(4999), 9998);
  std::size_t streamed = 0;
  con.for_each_chunk("SELECT id, m FROM t WHERE id = ANY($1)", keys,
                     [&](const Table& chunk) { streamed += chunk.num_rows(); });
  EXPECT_EQ(streamed, 5000u);
  EXPECT_EQ(con.describe_columns("t"), (std::vector<std::string>{"id", "m"}));
}

TEST(Connection, ChunkedReadsStopOnTheConsumersFailureAndReportLateFetchFailures) {
  TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  con.execute("CREATE TABLE t AS SELECT i AS id, CASE WHEN i = 99990 THEN 'x' ELSE '7' END AS v FROM range(100000) r(i)");
  std::vector<std::int64_t> keys;
  for (std::int64_t i = 0; i < 100000; ++i) keys.push_back(i);
  std::size_t chunks = 0;
  EXPECT_THROW(con.for_each_chunk("SELECT id FROM t WHERE id = ANY($1)", keys,
                                  [&](const Table&) {
                                    if (++chunks == 3) throw std::runtime_error("the consumer failed");
                                  }),
               std::runtime_error);
  EXPECT_EQ(chunks, 3u);
  EXPECT_THROW(con.for_each_chunk("SELECT v::INTEGER FROM t WHERE id = ANY($1)", keys, [](const Table&) {}),
               DatabaseError);
  // The connection is still usable after both.
  EXPECT_EQ(con.query("SELECT count(*) AS n FROM t").row_json(0).dump(), R"({"n":100000})");
}

TEST(Connection, ReportsMissingFilesTablesAndLocksClearly) {
  TempDir dir;
  const std::string missing = (dir / "nope.duckdb").string();
  try {
    Connection con(missing);
    FAIL() << "opened a missing file";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), "database file does not exist: " + missing);
  }
  const std::string path = (dir / "t.duckdb").string();
  Connection con(path, Connection::Open::kCreate);
  try {
    con.query("SELECT * FROM fact_periodic");
    FAIL() << "queried a missing table";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("fact_periodic"), std::string::npos) << error.what();
  }
  vordak::testing::write_text(dir / "junk.duckdb", "not a database at all, just text");
  EXPECT_THROW(Connection((dir / "junk.duckdb").string()), DatabaseError);
}

TEST(Connection, NeverFetchesExtensionsAndNamesFilesThatAreNoDuckDbDatabase) {
  TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  const Table settings = con.query(
      "SELECT current_setting('autoinstall_known_extensions') i, current_setting('autoload_known_extensions') l");
  EXPECT_EQ(settings.row_json(0).dump(), R"({"i":false,"l":false})");
  // The extensions the system uses are in the library itself.
  const std::string parquet = (dir / "p.parquet").string();
  con.execute("COPY (SELECT 7 AS a) TO '" + parquet + "' (FORMAT parquet)");
  EXPECT_EQ(con.query("SELECT a FROM read_parquet('" + parquet + "')").row_json(0).dump(), R"({"a":7})");
  EXPECT_EQ(con.query("SELECT json_extract('{\"b\": 3}', '$.b')::INTEGER AS b").row_json(0).dump(), R"({"b":3})");
  EXPECT_EQ(con.query("SELECT strftime(TIMESTAMPTZ '2024-06-30 23:30:00+00' AT TIME ZONE 'Europe/Istanbul', '%d') AS d")
                .row_json(0)
                .dump(),
            R"({"d":"01"})");
  // An extension that is not built in is refused, not fetched, and no statement can
  // switch fetching back on.
  EXPECT_THROW(con.execute("LOAD spatial"), DatabaseError);
  for (const char* statement : {"SET autoinstall_known_extensions = true", "SET autoload_known_extensions = true",
                                "SET lock_configuration = false", "RESET autoinstall_known_extensions"}) {
    EXPECT_THROW(con.execute(statement), DatabaseError) << statement;
  }
  EXPECT_EQ(con.query("SELECT current_setting('autoinstall_known_extensions') i").row_json(0).dump(), R"({"i":false})");

  std::string sqlite_header("SQLite format 3", 16);
  vordak::testing::write_text(dir / "bank.db", sqlite_header + std::string(4080, '\0'));
  vordak::testing::write_text(dir / "notes.duckdb", "not a database at all, just text");
  const std::pair<std::string, std::string> files[] = {
      {(dir / "bank.db").string(), "it is an SQLite database, not a DuckDB one"},
      {(dir / "notes.duckdb").string(), ""},
  };
  for (const auto& [path, reason] : files) {
    try {
      Connection opened(path);
      ADD_FAILURE() << "opened " << path;
    } catch (const DatabaseError& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(path), std::string::npos) << message;
      EXPECT_NE(message.find(reason), std::string::npos) << message;
      EXPECT_EQ(message.find("INSTALL"), std::string::npos) << message;
    }
  }
}

TEST(Connection, HasTableAnswersForTablesAndViewsByExactName) {
  TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  con.execute("CREATE TABLE fact_periodic (x INTEGER); CREATE VIEW v_risk AS SELECT 1 AS r;"
              "CREATE TABLE \"it's\" (x INTEGER)");
  const std::pair<const char*, bool> cases[] = {
      {"fact_periodic", true}, {"v_risk", true},  {"it's", true},        {"fact", false},
      {"fact_periodic ", false}, {"", false},     {"x' OR '1'='1", false}, {"ml_yi_tahmin", false},
  };
  for (const auto& [name, exists] : cases) EXPECT_EQ(con.has_table(name), exists) << name;
}

// A child process that runs `body` and reports one byte on a pipe: 1 when it holds what
// the test needs, 0 when it failed. It waits until the parent closes `release`, and is
// killed and reaped when the guard goes, whatever path the test takes.
class ChildProcess {
 public:
  template <typename Body>
  explicit ChildProcess(Body body) {
    int report[2], release[2];
    if (::pipe(report) != 0 || ::pipe(release) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child never returns into the test framework: every path ends in _exit.
      char ok = 0;
      try {
        ok = body() ? 1 : 0;
      } catch (...) {
      }
      ::close(report[0]);
      ::close(release[1]);
      (void)::write(report[1], &ok, 1);
      char ignored;
      (void)::read(release[0], &ignored, 1);  // returns when the parent closes its end or exits
      ::_exit(0);
    }
    ::close(report[1]);
    ::close(release[0]);
    report_ = report[0];
    release_ = release[1];
  }
  ~ChildProcess() {
    if (release_ >= 0) ::close(release_);
    if (report_ >= 0) ::close(report_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The child's report, or nullopt when it gave none within `deadline_ms`.
  std::optional<bool> report(int deadline_ms) {
    if (pid_ <= 0 || report_ < 0) return std::nullopt;
    pollfd ready{report_, POLLIN, 0};
    int polled;
    do {
      polled = ::poll(&ready, 1, deadline_ms);
    } while (polled < 0 && errno == EINTR);
    char byte = 0;
    if (polled != 1 || ::read(report_, &byte, 1) != 1) return std::nullopt;
    return byte == 1;
  }

 private:
  pid_t pid_ = -1;
  int report_ = -1;
  int release_ = -1;
};

TEST(Connection, ALockHeldByAnotherProcessIsAnError) {
  TempDir dir;
  const std::string path = (dir / "t.duckdb").string();
  { Connection create(path, Connection::Open::kCreate); }
  ChildProcess child([&] {
    new Connection(path);  // held, and the file locked, until the child is killed
    return true;
  });
  ASSERT_EQ(child.report(30000), std::optional<bool>(true)) << "the child could not open the database in time";
  try {
    Connection con(path);
    ADD_FAILURE() << "opened a locked file";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot open database " + path), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace vordak::pipeline
