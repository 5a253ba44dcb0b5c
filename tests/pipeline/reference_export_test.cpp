#include "pipeline/reference_export.h"

#include <gtest/gtest.h>

#include "core/child_process.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;

TEST(SubeBolgeRef, QuotedCsvWithCrLfInRegionAndBranchOrder) {
  const struct {
    const char* name;
    std::string rows;
    std::string csv;
  } cases[] = {
      {"quoting and order",
       "(20, 'Çankaya, Merkez', 2, 'Ankara \"Bölge\"'), (11, NULL, 1, 'İstanbul'), (10, 'Şişli\nYeni', 1, 'İstanbul')",
       "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n10,\"Şişli\nYeni\",1,İstanbul\r\n11,,1,İstanbul\r\n"
       "20,\"Çankaya, Merkez\",2,\"Ankara \"\"Bölge\"\"\"\r\n"},
      {"empty table", "", "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Connection con((dir / "r.duckdb").string(), Connection::Open::kCreate);
    con.execute("CREATE TABLE ref_sube_bolge (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR)");
    if (!c.rows.empty()) con.execute("INSERT INTO ref_sube_bolge VALUES " + c.rows);
    EXPECT_EQ(sube_bolge_ref_csv(read_sube_bolge_ref(con)), c.csv) << c.name;
  }
  EXPECT_EQ(sube_bolge_ref_line(3, "/o/sube_bolge_ref.csv"), "    sube_bolge_ref.csv: 3 rows -> /o/sube_bolge_ref.csv");
}

TEST(CsvTextCell, NeutralisesFormulasAfterEitherDelimiterButNotPlainNumbers) {
  const std::pair<const char*, const char*> cases[] = {
      {"=HYPERLINK(\"http://evil.example\",\"Şube\")", "\"'=HYPERLINK(\"\"http://evil.example\"\",\"\"Şube\"\")\""},
      {"=cmd|'/c calc'!A1", "'=cmd|'/c calc'!A1"},
      {"+90 212", "'+90 212"},
      {"-Merkez", "'-Merkez"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tSekme", "'\tSekme"},
      {"\rSatır", "\"'\rSatır\""},
      {"-1250", "-1250"},
      {"+3,5", "\"+3,5\""},
      {"-0.25", "-0.25"},
      {"-1.", "'-1."},
      {"Şişli", "Şişli"},
      {"", ""},
      // A cell that a ";" or a "," inside the text would start.
      {";=1+1", ";'=1+1"},
      {"Merkez,@SUM(A1)", "\"Merkez,'@SUM(A1)\""},
      {"a;b,-2+3", "\"a;b,'-2+3\""},
      {"-1;=1", "'-1;'=1"},
      {"1;-5,25", "\"1;-5,25\""},
      {"Işık; Ltd.", "Işık; Ltd."},
  };
  for (const auto& [text, cell] : cases) EXPECT_EQ(csv_text_cell(text), cell) << text;
}

// The page's own CSV downloads (";" between fields) judge the text after either delimiter
// the same way: csvCell of pipeline/dashboard/csv.js, run in Node.
TEST(CsvTextCell, ThePagesDownloadsNeutraliseTheSameCells) {
  const fs::path node = "/usr/bin/node";
  if (!fs::exists(node)) GTEST_SKIP() << "Node not found (scripts/setup.sh installs Debian's nodejs)";
  const std::pair<std::string, std::string> cases[] = {
      {";=1+1", "\";'=1+1\""},
      {"Merkez,@SUM(A1)", "Merkez,'@SUM(A1)"},
      {"a;b,-2+3", "\"a;b,'-2+3\""},
      {"-1250,5", "-1250,5"},
      {"Işık, Ltd.", "Işık, Ltd."},
  };
  ordered_json texts = ordered_json::array();
  for (const auto& [text, cell] : cases) texts.push_back(text);
  const std::string dashboard = std::string(VORDAK_SOURCE_DIR) + "/pipeline/dashboard/";
  const ChildResult result = run_child(
      {node.string(), "-e",
       read_text(dashboard + "format.js") + read_text(dashboard + "csv.js") +
           "\nprocess.stdout.write(JSON.stringify(" + texts.dump() + ".map(csvCell)));"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const ordered_json cells = ordered_json::parse(result.out);
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cells.at(i), cases[i].second) << cases[i].first;
}

TEST(ExportSubeBolgeRef, FormulaNamesAreNeutralisedAndTheDashboardsGetThemAsStored) {
  TempDir dir;
  Connection con((dir / "r.duckdb").string(), Connection::Open::kCreate);
  con.execute("CREATE TABLE ref_sube_bolge (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR);"
              "INSERT INTO ref_sube_bolge VALUES (-5, '=1+1', 1, '@bölge')");
  const Table reference = read_sube_bolge_ref(con);
  EXPECT_EQ(sube_bolge_ref_csv(reference), "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n-5,'=1+1,1,'@bölge\r\n");
  EXPECT_EQ(sube_bolge_ref_records(reference),
            (std::vector<std::vector<std::string>>{{"sube_kodu", "sube_adi", "bolge_kodu", "bolge_adi"},
                                                   {"-5", "=1+1", "1", "@bölge"}}));
}

TEST(SubeBolgeRef, MissingTableIsADatabaseError) {
  TempDir dir;
  Connection con((dir / "r.duckdb").string(), Connection::Open::kCreate);
  EXPECT_THROW(read_sube_bolge_ref(con), DatabaseError);
}

}  // namespace
}  // namespace vordak::pipeline
