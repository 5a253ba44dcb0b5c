#include "pipeline/trimmed_text.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

TEST(TrimmedText, GivesWhatTheDatabasesTrimGivesWithEmptyAsNull) {
  vordak::testing::TempDir dir;
  Connection con((dir / "t.duckdb").string(), Connection::Open::kCreate);
  define_trimmed_text(con);
  // Ends of every kind: ASCII and Unicode spaces (no-break, ideographic, thin, narrow
  // no-break, Ogham), which trim() takes off; tabs, line ends and zero-width spaces, which
  // it keeps; letters whose UTF-8 bytes resemble a space's; spaces inside.
  const std::vector<std::string> cells = {
      "IZLEMEDE", "  YAKIN IZLEME  ", "", "   ", "\u00A0\u00A0", "\u00A0x\u00A0", "\u3000İş\u3000", "\u2009a b\u202F",
      "\u205Fğ\u1680", "\u2000\u200A", "\tx\t", "x\n", "\u200Bx\u200B", "Şİ", "ı", "\u00C2\u00A0", "â", " \u00A0 x \u00A0 ",
      "\u2028x", "x\u3001", "\u2060x\u180E"};
  std::vector<std::string> values = {"(NULL)"};
  for (const std::string& cell : cells) values.push_back("(" + sql_literal(cell) + ")");
  // Over several of the database's chunks.
  con.execute("CREATE TABLE cells AS SELECT cell FROM (VALUES " + join(values, ", ") + ") t(cell), range(200)");
  EXPECT_EQ(con.query("SELECT count(*) FROM cells WHERE _metin(cell) IS DISTINCT FROM NULLIF(trim(cell), '')").column(0).integer(0), 0);
  EXPECT_EQ(con.query("SELECT _metin(" + sql_literal(" \u00A0 x \u00A0 ") + ") AS v").row_json(0).dump(), R"({"v":"x"})");
  EXPECT_EQ(con.query("SELECT _metin(" + sql_literal("\u3000") + ") IS NULL AS v").row_json(0).dump(), R"({"v":true})");
}

}  // namespace
}  // namespace vordak::pipeline
