#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vordak::testing
