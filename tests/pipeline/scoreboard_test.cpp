#include "pipeline/scoreboard.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

// A small analytic database with the four tables; `facts` are VALUES rows for
// fact_periodic (entity_id, donem, vrd_skor, kombine_risk, risk_degisim).
struct MartDb {
  TempDir dir;
  std::string path = (dir / "vrd.duckdb").string();

  explicit MartDb(const std::string& facts, bool with_optional = false) {
    Connection con(path, Connection::Open::kCreate);
    con.execute(std::string("CREATE TABLE fact_periodic (entity_id BIGINT, donem VARCHAR, vrd_skor VARCHAR, "
                            "kombine_risk DOUBLE, risk_degisim DOUBLE") +
                (with_optional ? ", depo_risk DOUBLE, nakit_risk DOUBLE, gnakit_risk DOUBLE" : "") + ")");
    if (!facts.empty()) con.execute("INSERT INTO fact_periodic VALUES " + facts);
    con.execute(std::string("CREATE TABLE dim_entity (entity_id BIGINT, segment VARCHAR, sube_kodu INTEGER, "
                            "bolge_kodu INTEGER") +
                (with_optional ? ", son_izleme_kodu VARCHAR, risk_grup_kodu INTEGER, pgy VARCHAR, "
                                 "finansman_konu VARCHAR, tahsis_onay_birimi VARCHAR"
                               : "") +
                ")");
    con.execute("CREATE TABLE map_identity (entity_id BIGINT, unvan VARCHAR)");
    con.execute("CREATE TABLE ref_sube_bolge (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR)");
    con.execute("INSERT INTO ref_sube_bolge VALUES (10, 'Şişli', 1, 'İstanbul Bölge'), (11, '', 1, 'İstanbul Bölge'),"
                " (20, 'Çankaya', 2, 'Ankara Bölge')");
  }
  void run(const std::string& sql) {
    Connection con(path);
    con.execute(sql);
  }
  Scoreboard build() {
    Connection con(path);
    StringSink sink;
    return build_scoreboard(con, sink);
  }
};

std::string rows_json(const Scoreboard& scoreboard) {
  std::string out;
  JsonWriter writer(out, JsonWriter::Layout::kCompact);
  scoreboard.rows.write_rows(writer);
  return out;
}

TEST(BuildScoreboard, BuildsRowsPerScoredFirmInRiskOrder) {
  MartDb db("(1, '2024-05', NULL, NULL, NULL), (1, '2024-06', '812.5', 1500.7, 10),"
            "(2, '2024-05', 'YI', 900, NULL), (2, '2024-06', '813.5', 2000, -5.5),"
            "(3, '2024-05', '640.5', 100, NULL), (3, '2024-06', 'nan', NULL, NULL),"
            "(4, '2024-05', NULL, 0, NULL), (4, '2024-06', NULL, NULL, NULL),"
            "(5, '2024-06', '641.5', 99, NULL), (6, '2024-06', '-1', 5000, NULL)");
  db.run("INSERT INTO dim_entity VALUES (1, 'KOBI', 10, 1), (2, 'MIKRO', 11, 1), (3, 'None', 20, 2),"
         " (4, 'ESKK', 10, 1), (6, 'KUR-TIC', NULL, NULL)");
  db.run("INSERT INTO map_identity VALUES (1, 'Yıldız A.Ş.'), (2, 'nan'), (3, 'Ege Ltd.'), (6, '')");
  const Scoreboard scoreboard = db.build();
  EXPECT_EQ(scoreboard.meta.dump(),
            R"({"donemler":["2024-05","2024-06"],"risk_donemler":["2024-05","2024-06"],"son_donem":"2024-06",)"
            R"("n_muta":4,"bolge_listesi":["Ankara Bölge","İstanbul Bölge"],"sube_listesi":["Çankaya","Şişli"],)"
            R"("pipeline_ts":"dummy_run","notebook":"pipeline_runner"})");
  EXPECT_EQ(rows_json(scoreboard),
            "["
            R"({"muta":6,"unvan":"","segment":"KUR-TIC","sube_kodu":null,"sube_adi":null,"bolge_kodu":null,"bolge_adi":null,)"
            R"("vrd2024-05":null,"vrd2024-06":-1,"r2024-05":null,"r2024-06":5000.0,"rd2024-05":null,"rd2024-06":null,)"
            R"("son_risk":5000,"df2024-05":null,"df2024-06":0},)"
            R"({"muta":2,"unvan":null,"segment":"MIKRO","sube_kodu":11,"sube_adi":"","bolge_kodu":1,"bolge_adi":"İstanbul Bölge",)"
            R"("vrd2024-05":"YI","vrd2024-06":814,"r2024-05":900.0,"r2024-06":2000.0,"rd2024-05":null,"rd2024-06":-5.5,)"
            R"("son_risk":2000,"df2024-05":1100,"df2024-06":0},)"
            R"({"muta":1,"unvan":"Yıldız A.Ş.","segment":"KOBI","sube_kodu":10,"sube_adi":"Şişli","bolge_kodu":1,"bolge_adi":"İstanbul Bölge",)"
            R"("vrd2024-05":null,"vrd2024-06":812,"r2024-05":null,"r2024-06":1500.7,"rd2024-05":null,"rd2024-06":10.0,)"
            R"("son_risk":1500,"df2024-05":null,"df2024-06":0},)"
            R"({"muta":3,"unvan":"Ege Ltd.","segment":null,"sube_kodu":20,"sube_adi":"Çankaya","bolge_kodu":2,"bolge_adi":"Ankara Bölge",)"
            R"("vrd2024-05":640,"vrd2024-06":null,"r2024-05":100.0,"r2024-06":null,"rd2024-05":null,"rd2024-06":null,)"
            R"("son_risk":0,"df2024-05":-100,"df2024-06":null})"
            "]");
}

TEST(BuildScoreboard, AddsOptionalMembersAndCurrentDeposits) {
  MartDb db("(1, '2024-05', '100', 10, 1, 5, 6, 7), (1, '2024-06', '200', 20, 2, 8.5, NULL, 'nan'),"
            "(2, '2024-05', '300', 30, 3, 1, 1, 1)",
            true);
  db.run("INSERT INTO dim_entity VALUES (1, 'KOBI', 10, 1, 'A1', 3, 'Ticari', 'Yatırım', 'Şube'),"
         " (2, 'KOBI', 10, 1, NULL, NULL, NULL, NULL, NULL)");
  const Scoreboard scoreboard = db.build();
  EXPECT_EQ(scoreboard.rows.column_names(),
            (std::vector<std::string>{"muta", "unvan", "segment", "sube_kodu", "sube_adi", "bolge_kodu", "bolge_adi",
                                      "son_izleme_kodu", "risk_grup_kodu", "pgy", "finansman_konu",
                                      "tahsis_onay_birimi", "vrd2024-05", "vrd2024-06", "r2024-05", "r2024-06",
                                      "rd2024-05", "rd2024-06", "son_risk", "depo_risk", "nakit_risk", "gnakit_risk",
                                      "df2024-05", "df2024-06"}));
  EXPECT_EQ(scoreboard.rows.row_json(0).dump(),
            R"({"muta":1,"unvan":null,"segment":"KOBI","sube_kodu":10,"sube_adi":"Şişli","bolge_kodu":1,)"
            R"("bolge_adi":"İstanbul Bölge","son_izleme_kodu":"A1","risk_grup_kodu":3,"pgy":"Ticari",)"
            R"("finansman_konu":"Yatırım","tahsis_onay_birimi":"Şube","vrd2024-05":100,"vrd2024-06":200,)"
            R"("r2024-05":10.0,"r2024-06":20.0,"rd2024-05":1.0,"rd2024-06":2.0,"son_risk":20,"depo_risk":8.5,)"
            R"("nakit_risk":null,"gnakit_risk":null,"df2024-05":10,"df2024-06":0})");
  EXPECT_EQ(scoreboard.rows.row_json(1).dump().find(R"("depo_risk":null,"nakit_risk":null,"gnakit_risk":null)") !=
                std::string::npos,
            true);
}

TEST(BuildScoreboard, KeepsEachFirmsFirstValuePerPeriodAcrossChunks) {
  // Every firm has a row without values, then one with values, then a decoy, each group
  // thousands of rows apart, so a firm's rows arrive in different chunks of the result.
  MartDb db("");
  db.run("INSERT INTO fact_periodic SELECT i, '2024-06', NULL, NULL, NULL FROM range(1, 5001) r(i)");
  db.run("INSERT INTO fact_periodic SELECT i, '2024-06', (i % 900)::VARCHAR, i * 1.5, -i FROM range(1, 5001) r(i)");
  db.run("INSERT INTO fact_periodic SELECT i, '2024-06', '1', 1, 1 FROM range(1, 5001) r(i)");
  db.run("INSERT INTO dim_entity SELECT i, 'KOBI', 10, 1 FROM range(1, 5001) r(i)");
  const Scoreboard scoreboard = db.build();
  ASSERT_EQ(scoreboard.rows.num_rows(), 5000u);
  for (std::size_t row = 0; row < 5000; ++row) {
    const std::int64_t muta = scoreboard.rows.column("muta").integer(row);
    const std::int64_t son_risk = static_cast<std::int64_t>(static_cast<double>(muta) * 1.5);
    EXPECT_EQ(scoreboard.rows.row_json(row).dump(),
              ordered_json({{"muta", muta},
                            {"unvan", nullptr},
                            {"segment", "KOBI"},
                            {"sube_kodu", 10},
                            {"sube_adi", "Şişli"},
                            {"bolge_kodu", 1},
                            {"bolge_adi", "İstanbul Bölge"},
                            {"vrd2024-06", muta % 900},
                            {"r2024-06", static_cast<double>(muta) * 1.5},
                            {"rd2024-06", static_cast<double>(-muta)},
                            {"son_risk", son_risk},
                            {"df2024-06", 0}})
                  .dump());
  }
}

TEST(BuildScoreboard, DegenerateDatabasesGiveTheShortDocuments) {
  MartDb empty("");
  Scoreboard none = empty.build();
  std::string out;
  {
    JsonWriter writer(out, JsonWriter::Layout::kCompact);
    write_scoreboard(writer, none);
  }
  EXPECT_EQ(out, R"({"meta":{},"rows":[]})");

  MartDb unscored("(1, '2024-05', NULL, 0, NULL), (1, '2024-06', NULL, NULL, 3)");
  const Scoreboard scoreboard = unscored.build();
  EXPECT_EQ(scoreboard.meta.dump(), R"({"donemler":["2024-05","2024-06"],"son_donem":"2024-06","n_muta":0})");
  EXPECT_EQ(scoreboard.rows.num_rows(), 0u);
}

TEST(BuildScoreboard, BadInputEndsTheBuildWithAMessageNamingIt) {
  MartDb missing_column("(1, '2024-06', '100', 10, 1)");
  missing_column.run("ALTER TABLE map_identity DROP COLUMN unvan");
  try {
    missing_column.build();
    FAIL();
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("unvan"), std::string::npos) << error.what();
  }
  MartDb missing_table("(1, '2024-06', '100', 10, 1)");
  missing_table.run("DROP TABLE ref_sube_bolge");
  try {
    missing_table.build();
    FAIL();
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("ref_sube_bolge"), std::string::npos) << error.what();
  }
  MartDb text_keys("");
  text_keys.run("DROP TABLE fact_periodic");
  text_keys.run("CREATE TABLE fact_periodic AS SELECT 'F-1' AS entity_id, '2024-06' AS donem, '5' AS vrd_skor,"
                " 1.0 AS kombine_risk, 0.0 AS risk_degisim");
  try {
    text_keys.build();
    FAIL();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "fact_periodic.entity_id holds a value that is not an integer: F-1");
  }
}

}  // namespace
}  // namespace vordak::pipeline
