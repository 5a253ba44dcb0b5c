#include "pipeline/duckdb_connection.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  EXPECT_EQ(con.query("SELECT column_name FROM information_schema.columns WHERE table_name = 't' ORDER BY 1")
                .num_rows(),
            2u);
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
  testing::write_text(dir / "junk.duckdb", "not a database at all, just text");
  EXPECT_THROW(Connection((dir / "junk.duckdb").string()), DatabaseError);
}

TEST(Connection, ALockHeldByAnotherProcessIsAnError) {
  TempDir dir;
  const std::string path = (dir / "t.duckdb").string();
  { Connection create(path, Connection::Open::kCreate); }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    Connection holder(path);
    char byte = 1;
    (void)::write(ready[1], &byte, 1);
    ::sleep(5);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  try {
    Connection con(path);
    ADD_FAILURE() << "opened a locked file";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot open database " + path), std::string::npos) << error.what();
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace vordak::pipeline
