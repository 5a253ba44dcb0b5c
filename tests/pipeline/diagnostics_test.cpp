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
  std::string index = build_diag_index(con, sink);
  return {sink.text(), std::move(index)};
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
      {"no table", "", {"  [DIAG] Tablo yok, atlanıyor\n", ""}},
      {"empty table", base + ")", {"  [DIAG] Tablo boş, atlanıyor\n", ""}},
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
      {"firm keys as texts that name one firm apart",
       "CREATE TABLE diag_eus_kapsam_diskalma (muta VARCHAR, donem INTEGER, katman VARCHAR, kriter VARCHAR, "
       "deger DOUBLE, onceki_deger DOUBLE, aciklama VARCHAR); INSERT INTO diag_eus_kapsam_diskalma VALUES"
       " ('07', 202406, 'A', 'k', NULL, NULL, 'a'), ('3', 202405, 'B', 'k', NULL, NULL, 'b'),"
       " ('7', 202405, 'C', 'k', NULL, NULL, 'c'), ('7', 202406, 'D', 'k', NULL, NULL, 'd')",
       {"  [DIAG] 2 firma, 4 bulgu, 0 yeni bulgu yüklendi\n",
        R"({"7":{"202406":{"bulgular":[{"katman":"A","kriter":"k","aciklama":"a","yeni":0},)"
        R"({"katman":"D","kriter":"k","aciklama":"d","yeni":0}],"yeni_gruplar":[]},)"
        R"("202405":{"bulgular":[{"katman":"C","kriter":"k","aciklama":"c","yeni":0}],"yeni_gruplar":[]}},)"
        R"("3":{"202405":{"bulgular":[{"katman":"B","kriter":"k","aciklama":"b","yeni":0}],"yeni_gruplar":[]}}})"}},
      {"null firm key",
       base + "); INSERT INTO diag_eus_kapsam_diskalma VALUES (NULL, 202406, 'A', 'k', 1, 1, 'a')",
       {"  [DIAG] Hata: diag_eus_kapsam_diskalma.muta holds a value that is not an integer: NULL\n", ""}},
      {"missing column",
       "CREATE TABLE diag_eus_kapsam_diskalma (muta BIGINT); INSERT INTO diag_eus_kapsam_diskalma VALUES (1)",
       {"", ""}},
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

// Findings read in many chunks: a firm's findings that a chunk's end cuts apart stay in
// one firm and period.
TEST(DiagIndex, FirmsThatSpanChunksStayWhole) {
  const DiagOutcome outcome = diag_index_of(
      "CREATE TABLE diag_eus_kapsam_diskalma AS SELECT i // 7 AS muta, 202401 + (i % 7) // 3 AS donem,"
      " 'K' || (i % 7) AS katman, 'k' AS kriter, i * 0.5::DOUBLE AS deger, NULL::DOUBLE AS onceki_deger, 'a' AS aciklama,"
      " 'G' || (i % 2) AS grup, 1 AS yeni FROM range(0, 20000) t(i)");
  EXPECT_EQ(outcome.console, "  [DIAG] 2858 firma, 20000 bulgu, 20000 yeni bulgu yüklendi\n");
  const ordered_json index = parse_json(outcome.index);
  ASSERT_EQ(index.size(), 2858u);
  std::size_t findings = 0;
  for (const auto& [firm, periods] : index.items()) {
    for (const auto& [period, bucket] : periods.items()) {
      findings += bucket["bulgular"].size();
      EXPECT_LE(bucket["yeni_gruplar"].size(), 2u) << firm << " " << period;
    }
  }
  EXPECT_EQ(findings, 20000u);
  EXPECT_EQ(index["0"].dump(),
            R"({"202401":{"bulgular":[{"katman":"K0","kriter":"k","aciklama":"a","deger":0.0,"grup":"G0","yeni":1},)"
            R"({"katman":"K1","kriter":"k","aciklama":"a","deger":0.5,"grup":"G1","yeni":1},)"
            R"({"katman":"K2","kriter":"k","aciklama":"a","deger":1.0,"grup":"G0","yeni":1}],"yeni_gruplar":["G0","G1"]},)"
            R"("202402":{"bulgular":[{"katman":"K3","kriter":"k","aciklama":"a","deger":1.5,"grup":"G1","yeni":1},)"
            R"({"katman":"K4","kriter":"k","aciklama":"a","deger":2.0,"grup":"G0","yeni":1},)"
            R"({"katman":"K5","kriter":"k","aciklama":"a","deger":2.5,"grup":"G1","yeni":1}],"yeni_gruplar":["G1","G0"]},)"
            R"("202403":{"bulgular":[{"katman":"K6","kriter":"k","aciklama":"a","deger":3.0,"grup":"G0","yeni":1}],)"
            R"("yeni_gruplar":["G0"]}})");
}

}  // namespace
}  // namespace vordak::pipeline
