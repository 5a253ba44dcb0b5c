#include "pipeline/diagnostics.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

struct DiagOutcome {
  std::string console;
  std::string index;
};

DiagOutcome diag_index_of(const std::string& setup) {
  TempDir dir;
  Connection con((dir / "d.duckdb").string(), Connection::Open::kCreate);
  if (!setup.empty()) con.execute(setup);
  StringSink sink;
  const ordered_json index = build_diag_index(con, sink);
  return {sink.text(), to_json_text(index, JsonWriter::Layout::kCompact)};
}

TEST(DiagIndex, GroupsFindingsByFirmAndPeriod) {
  const std::string base =
      "CREATE TABLE diag_eus_kapsam_diskalma (muta BIGINT, donem INTEGER, katman VARCHAR, kriter VARCHAR, "
      "deger DOUBLE, onceki_deger DOUBLE, aciklama VARCHAR";
  const struct {
    const char* name;
    std::string setup;
    DiagOutcome expected;
  } cases[] = {
      {"no table", "", {"  [DIAG] Tablo yok, atlanıyor\n", "{}"}},
      {"empty table", base + ")", {"  [DIAG] Tablo boş, atlanıyor\n", "{}"}},
      {"without grup and yeni",
       base + "); INSERT INTO diag_eus_kapsam_diskalma VALUES (7, 202406, 'K2', 'gecikme', NULL, 3, 'gecikme var'),"
              " (7, 202406, 'K1', 'limit', 1.5, NULL, 'aşım'), (3, 202405, 'K1', 'x', 2, 1, 'y')",
       {"  [DIAG] 2 firma, 3 bulgu, 0 yeni bulgu yüklendi\n",
        R"({"3":{"202405":{"bulgular":[{"katman":"K1","kriter":"x","aciklama":"y","deger":2.0,"onceki":1.0,"yeni":0}],)"
        R"("yeni_gruplar":[]}},"7":{"202406":{"bulgular":[{"katman":"K1","kriter":"limit","aciklama":"aşım","deger":1.5,)"
        R"("yeni":0},{"katman":"K2","kriter":"gecikme","aciklama":"gecikme var","onceki":3.0,"yeni":0}],"yeni_gruplar":[]}}})"}},
      {"one layer's findings in the order of their criteria",
       base + "); INSERT INTO diag_eus_kapsam_diskalma VALUES (5, 202406, 'K1', 'z', 1, 1, 'b'), (5, 202406, 'K1', 'a', 1, 1, 'c')",
       {"  [DIAG] 1 firma, 2 bulgu, 0 yeni bulgu yüklendi\n",
        R"({"5":{"202406":{"bulgular":[{"katman":"K1","kriter":"a","aciklama":"c","deger":1.0,"onceki":1.0,"yeni":0},)"
        R"({"katman":"K1","kriter":"z","aciklama":"b","deger":1.0,"onceki":1.0,"yeni":0}],"yeni_gruplar":[]}}})"}},
      {"with grup and yeni",
       base + ", grup VARCHAR, yeni INTEGER); INSERT INTO diag_eus_kapsam_diskalma VALUES"
              " (1, 202406, 'A', 'k', 1, 1, 'a', 'G1', 1), (1, 202406, 'B', 'k', 1, 1, 'a', 'G1', 1),"
              " (1, 202406, 'C', 'k', 1, 1, 'a', 'nan', 1), (1, 202406, 'D', 'k', 1, 1, 'a', 'G2', 0),"
              " (1, 202407, 'A', 'k', 1, 1, 'a', NULL, NULL)",
       {"  [DIAG] 1 firma, 5 bulgu, 3 yeni bulgu yüklendi\n",
        R"({"1":{"202406":{"bulgular":[{"katman":"A","kriter":"k","aciklama":"a","deger":1.0,"onceki":1.0,"grup":"G1","yeni":1},)"
        R"({"katman":"B","kriter":"k","aciklama":"a","deger":1.0,"onceki":1.0,"grup":"G1","yeni":1},)"
        R"({"katman":"C","kriter":"k","aciklama":"a","deger":1.0,"onceki":1.0,"yeni":1},)"
        R"({"katman":"D","kriter":"k","aciklama":"a","deger":1.0,"onceki":1.0,"grup":"G2","yeni":0}],"yeni_gruplar":["G1"]},)"
        R"("202407":{"bulgular":[{"katman":"A","kriter":"k","aciklama":"a","deger":1.0,"onceki":1.0,"yeni":0}],"yeni_gruplar":[]}}})"}},
      {"null firm key",
       base + "); INSERT INTO diag_eus_kapsam_diskalma VALUES (NULL, 202406, 'A', 'k', 1, 1, 'a')",
       {"  [DIAG] Hata: diag_eus_kapsam_diskalma.muta holds a value that is not an integer: NULL\n", "{}"}},
      {"missing column",
       "CREATE TABLE diag_eus_kapsam_diskalma (muta BIGINT); INSERT INTO diag_eus_kapsam_diskalma VALUES (1)",
       {"", "{}"}},
  };
  for (const auto& c : cases) {
    const DiagOutcome outcome = diag_index_of(c.setup);
    if (c.expected.console.empty()) {
      EXPECT_TRUE(outcome.console.starts_with("  [DIAG] Hata: ")) << c.name << ": " << outcome.console;
    } else {
      EXPECT_EQ(outcome.console, c.expected.console) << c.name;
    }
    EXPECT_EQ(outcome.index, c.expected.index) << c.name;
  }
}

}  // namespace
}  // namespace vordak::pipeline
