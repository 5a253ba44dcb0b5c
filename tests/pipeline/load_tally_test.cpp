#include "pipeline/load_tally.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak::pipeline {
namespace {

TEST(LoadTally, CountsEveryRowByFileAndPeriodAndGivesUpAtOneThatCannotLoad) {
  vordak::testing::TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  con.execute("CREATE TABLE t (dosya INTEGER, donem INTEGER)");
  // Rows of two files and three periods, one without a period, over several chunks.
  const std::string rows = "SELECT (i % 2 + 1)::INTEGER AS dosya, CASE WHEN i = 7 THEN NULL ELSE (202401 + i % 3)::INTEGER END AS donem, "
                           "i::BIGINT AS anahtar FROM range(5000) r(i)";
  {
    LoadTally tally(con, 0);
    con.execute("INSERT INTO t SELECT dosya, donem FROM (" + rows + ") WHERE _yukleme_say(dosya, NULL, donem, anahtar)");
    EXPECT_FALSE(tally.gave_up());
    EXPECT_EQ(tally.rows_by_file(), (std::map<std::int64_t, std::int64_t>{{1, 2500}, {2, 2500}}));
    EXPECT_EQ(tally.rows_by_period(), (std::map<std::int64_t, std::int64_t>{{202401, 1667}, {202402, 1666}, {202403, 1666}}));
    EXPECT_FALSE(tally.keys_may_repeat());
  }
  EXPECT_EQ(con.query("SELECT count(*) FROM t").column(0).integer(0), 5000);
  {
    LoadTally tally(con, 0);
    con.execute("SELECT count(*) FROM (" + rows + ") WHERE _yukleme_say(dosya, NULL, donem, anahtar % 4999)");
    EXPECT_TRUE(tally.keys_may_repeat());
  }
  {
    LoadTally tally(con, 0);
    EXPECT_THROW(con.execute("INSERT INTO t SELECT dosya, donem FROM (" + rows +
                             ") WHERE _yukleme_say(dosya, CASE WHEN anahtar = 4000 THEN 'tur_hatali' END, donem, anahtar)"),
                 DatabaseError);
    EXPECT_TRUE(tally.gave_up());
  }
  // Without a tally the function answers no more.
  EXPECT_THROW(con.execute("SELECT _yukleme_say(1, NULL, 202401, 1)"), DatabaseError);
}

}  // namespace
}  // namespace vordak::pipeline
