#include "pipeline/model_measures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "core/child_process.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "pipeline/distributions.h"
#include "pipeline/model_inventory.h"
#include "pipeline/model_metrics.h"
#include "pipeline/model_scores.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

// The measures of a database that holds fact_periodic (entity_id, donem, vrd_skor,
// kombine_risk) and score tables: the identity tables the scoreboard needs are made up
// from its firms (segment KOBI).
ordered_json measures_of(const std::string& path) {
  Connection con(path);
  con.execute(
      "ALTER TABLE fact_periodic ADD COLUMN IF NOT EXISTS risk_degisim DOUBLE;"
      "CREATE OR REPLACE TABLE dim_entity AS SELECT DISTINCT entity_id, 'KOBI' AS segment, 1 AS sube_kodu, 1 AS bolge_kodu "
      "FROM fact_periodic;"
      "CREATE OR REPLACE TABLE map_identity AS SELECT DISTINCT entity_id, 'Firma' AS unvan FROM fact_periodic;"
      "CREATE OR REPLACE TABLE ref_sube_bolge AS SELECT 1 AS sube_kodu, 'Şube' AS sube_adi, 1 AS bolge_kodu, 'Bölge' AS bolge_adi;");
  StringSink sink;
  const Scoreboard scoreboard = build_scoreboard(con, sink);
  return build_model_measures(con, scoreboard, read_model_inventory(con), sink);
}

// The members of `entry` named in `names`, in that order.
ordered_json picked(const ordered_json& entry, const std::vector<std::string>& names) {
  ordered_json out = ordered_json::object();
  for (const std::string& name : names) out[name] = entry.at(name);
  return out;
}

// Six firms over three periods. Firms 5 and 6 enter YI in 2024-02, firm 1 in 2024-03;
// firm 6 has no row in 2024-03. The extracts label periods as YYYYMM numbers.
struct MeasuresDb {
  TempDir dir;
  std::string path = (dir / "vrd.duckdb").string();

  MeasuresDb() {
    Connection con(path, Connection::Open::kCreate);
    con.execute(
        "CREATE TABLE fact_periodic (entity_id BIGINT, donem VARCHAR, vrd_skor VARCHAR, kombine_risk DOUBLE);"
        "INSERT INTO fact_periodic VALUES"
        " (1, '2024-01', '200', 100), (1, '2024-02', '300', 110), (1, '2024-03', 'YI', 120),"
        " (2, '2024-01', '300', 200), (2, '2024-02', '400', 210), (2, '2024-03', '400', 220),"
        " (3, '2024-01', '600', 300), (3, '2024-02', '700', 310), (3, '2024-03', '700', 330),"
        " (4, '2024-01', '900', 400), (4, '2024-02', '900', 410), (4, '2024-03', '900', -440),"
        " (5, '2024-01', '850', 500), (5, '2024-02', 'YI', 510), (5, '2024-03', 'YI', 550),"
        " (6, '2024-01', '100', 600), (6, '2024-02', 'YI', 610);"
        "CREATE TABLE raw_eus (muta_no BIGINT, donem INTEGER, eus_skor DOUBLE);"
        "INSERT INTO raw_eus VALUES (1, 202401, 100), (2, 202401, 400), (3, 202401, 600), (4, 202401, 900),"
        " (5, 202401, 950), (6, 202401, 200), (1, 202402, 700), (2, 202402, 300), (3, 202402, 650),"
        " (4, 202402, 850), (5, 202402, 990), (6, 202402, NULL), (1, 202403, 800), (2, 202403, 350),"
        " (3, 202403, 600), (4, 202403, 830);"
        "CREATE TABLE raw_yis (muta_no BIGINT, donem INTEGER, yis_olasilik DOUBLE);"
        "INSERT INTO raw_yis VALUES (1, 202401, 0.01), (2, 202401, 0.04), (3, 202401, 0.05), (4, 202401, 0.2),"
        " (5, 202401, 0.6), (6, 202401, 0.35), (1, 202402, 0.3), (2, 202402, 0.02), (3, 202402, 0.07),"
        " (4, 202402, 0.5);");
  }
  ordered_json measure() { return measures_of(path); }
};

double rounded(double value) { return round_half_even(value, 4); }

TEST(ModelMeasures, ScorePeriodsAgainstTheNextPeriodsYiWithStabilityAndMigration) {
  MeasuresDb db;
  const ordered_json models = db.measure();
  ASSERT_EQ(models.size(), 3u);
  const ordered_json& eus = models[0];
  EXPECT_EQ(eus["model"], "eus");
  EXPECT_EQ(eus["kaynak"], "EUS tahminleri (EUS skoru)");
  EXPECT_EQ(eus["olcek"], "skor");
  EXPECT_EQ(eus["bantlar"], ordered_json({"0-325", "325-500", "500-825", "825-1000", "YI"}));
  EXPECT_EQ(eus["esik"], nullptr);  // no backtest has left its threshold

  // 2024-01: positives 5 (950) and 6 (200) against 100, 400, 600, 900: (4 + 1) / 8.
  // 2024-02: firm 1 (700) reaches YI; it outranks 300 and 650 but not 850: 2 / 3. Firms 5
  // and 6 are in YI already and leave the population.
  // 2024-03: the last period has no outcome.
  // No period rests on 20 events; the reference is the one with the most, 2024-01, and
  // every PSI is measured against its distribution.
  EXPECT_EQ(eus["referans"]["donem"], "2024-01");
  EXPECT_EQ(eus["referans"]["auc"], 0.625);
  const double psi_02 = (0.25 - 2.0 / 6) * std::log(0.25 / (2.0 / 6)) + (1e-4 - 1.0 / 6) * std::log(1e-4 / (1.0 / 6)) +
                        (0.5 - 1.0 / 6) * std::log(0.5 / (1.0 / 6)) + (0.25 - 2.0 / 6) * std::log(0.25 / (2.0 / 6));
  const double psi_03 = (1e-4 - 2.0 / 6) * std::log(1e-4 / (2.0 / 6)) + (1.0 / 3 - 1.0 / 6) * std::log((1.0 / 3) / (1.0 / 6)) +
                        (1.0 / 3 - 1.0 / 6) * std::log((1.0 / 3) / (1.0 / 6)) + (1.0 / 3 - 2.0 / 6) * std::log(1.0);
  const ordered_json periods = {
      {{"donem", "2024-01"}, {"skorlu", 6}, {"dagilim", {2, 1, 1, 2}}, {"psi", 0.0}, {"n", 6}, {"yi", 2},
       {"auc", 0.625}, {"gini", 0.25}, {"auc_p", nullptr}, {"az_olay", true}},
      {{"donem", "2024-02"}, {"skorlu", 4}, {"dagilim", {1, 0, 2, 1}}, {"psi", rounded(psi_02)}, {"n", 4}, {"yi", 1},
       {"auc", 0.6667}, {"gini", 0.3333}, {"auc_p", 0.5497}, {"az_olay", true}},
      {{"donem", "2024-03"}, {"skorlu", 3}, {"dagilim", {0, 1, 1, 1}}, {"psi", rounded(psi_03)}, {"n", 0}, {"yi", 0},
       {"auc", nullptr}, {"gini", nullptr}, {"auc_p", nullptr}, {"az_olay", true}},
  };
  ASSERT_EQ(eus["donemler"].size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_EQ(picked(eus["donemler"][p], {"donem", "skorlu", "dagilim", "psi", "n", "yi", "auc", "gini", "auc_p", "az_olay"}),
              periods[p]);
  }
  // DeLong's interval of 2024-02: one positive (no spread of its own) and three negatives
  // placed 0, 1, 1: S01 = 1/3, variance 1/9.
  EXPECT_EQ(eus["donemler"][1]["auc_alt"], rounded(2.0 / 3 - Z_95 / 3));
  EXPECT_EQ(eus["donemler"][1]["auc_ust"], 1.0);
  EXPECT_EQ(eus["donemler"][0]["hhi"], rounded(1 + std::log(10.0 / 36) / std::log(4.0)));
  EXPECT_FALSE(eus["donemler"][0].contains("brier"));  // a score has no calibration

  // 2024-01 -> 2024-02: 1 goes 0-325 -> 500-825, 2 goes 325-500 -> 0-325, 3 and 4 stay,
  // 5 and 6 go to YI (6 without an EUS score: its state alone places it).
  ASSERT_EQ(eus["gecisler"].size(), 2u);
  EXPECT_EQ(eus["gecisler"][0],
            ordered_json::parse(R"({"from":"2024-01","to":"2024-02",
              "sayilar":[[0,0,1,0,1],[1,0,0,0,0],[0,0,1,0,0],[0,0,0,1,1],[0,0,0,0,0]],
              "oranlar":[[0.0,0.0,0.5,0.0,0.5],[1.0,0.0,0.0,0.0,0.0],[0.0,0.0,1.0,0.0,0.0],[0.0,0.0,0.0,0.5,0.5],
                         [null,null,null,null,null]],
              "risk_tl":[[0,0,110,0,610],[210,0,0,0,0],[0,0,310,0,0],[0,0,0,410,510],[0,0,0,0,0]],
              "kotulesen":3,"kotulesen_risk_tl":1230,"iyilesen":1,"iyilesen_risk_tl":210,"ayni":2})"));
  // 2024-02 -> 2024-03: firm 6 has left; exposure is the absolute risk (firm 4: -440).
  EXPECT_EQ(eus["gecisler"][1]["sayilar"], ordered_json::parse("[[0,1,0,0,0],[0,0,0,0,0],[0,0,1,0,1],[0,0,0,1,0],[0,0,0,0,1]]"));
  EXPECT_EQ(eus["gecisler"][1]["risk_tl"][3][3], 440);
  EXPECT_EQ(eus["gecisler"][1]["kotulesen"], 2);
  EXPECT_EQ(eus["gecisler"][1]["ayni"], 3);
  EXPECT_FALSE(eus.contains("kalibrasyon"));

  // The ML backtest has not run: the model says why it has no measures.
  EXPECT_EQ(models[2], ordered_json({{"model", "ml"},
                                     {"ad", "ML"},
                                     {"kaynak", "ML walk-forward backtest tahminleri (YI olasılığı)"},
                                     {"eksik", "ML walk-forward backtest tahminleri (YI olasılığı) yok (backtest_ml adımı)"}}));
}

TEST(ModelMeasures, ProbabilitiesAreBandedByTheirOwnScaleAndCalibratedByDecile) {
  MeasuresDb db;
  const ordered_json yis = db.measure()[1];
  EXPECT_EQ(yis["olcek"], "olasilik");
  EXPECT_EQ(yis["bantlar"], ordered_json({"%0-5", "%5-10", "%10-30", "%30-50", "%50-100", "YI"}));
  // 0.05 opens the second band; 0.5 the last.
  EXPECT_EQ(yis["donemler"][0]["dagilim"], ordered_json({2, 1, 1, 1, 1}));
  EXPECT_EQ(yis["donemler"][1]["dagilim"], ordered_json({1, 1, 0, 1, 1}));
  EXPECT_EQ(yis["donemler"].size(), 2u);  // no YIS scores in 2024-03

  // Ten firm-periods with outcomes, one per decile, in probability order:
  // 0.01 0.02 0.04 0.05 0.07 0.2 0.3(YI) 0.35(YI) 0.5 0.6(YI).
  const ordered_json& pooled = yis["kalibrasyon"]["tum_donemler"];
  ASSERT_EQ(pooled.size(), 10u);
  const std::vector<double> means = {0.01, 0.02, 0.04, 0.05, 0.07, 0.2, 0.3, 0.35, 0.5, 0.6};
  const std::vector<int> yi = {0, 0, 0, 0, 0, 0, 1, 1, 0, 1};
  for (std::size_t k = 0; k < 10; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(picked(pooled[k], {"firma", "yi", "ort_olasilik", "gozlenen_oran"}),
              ordered_json({{"firma", 1}, {"yi", yi[k]}, {"ort_olasilik", means[k]},
                            {"gozlenen_oran", static_cast<double>(yi[k])}}));
  }
  // One firm per decile: its Jeffreys test against its own probability, e.g. a YI at 30%:
  // posterior Beta(1.5, 0.5), 2 min(F, 1 - F) at 0.3.
  const double below = beta_cdf(0.3, 1.5, 0.5);
  EXPECT_EQ(pooled[6]["p"], round_half_even(2 * std::min(below, 1 - below), 4));
  EXPECT_EQ(yis["kalibrasyon"]["hl"]["sd"], 8);
  ASSERT_EQ(yis["kalibrasyon"]["donemler"].size(), 2u);
  EXPECT_EQ(yis["kalibrasyon"]["donemler"][1]["donem"], "2024-02");
  EXPECT_EQ(yis["kalibrasyon"]["donemler"][1]["dilimler"].size(), 4u);

  // Per period and band, the Jeffreys test of the band's mean probability: 2024-01's
  // %50-100 band holds firm 5 (0.6, YI).
  const ordered_json& bands = yis["donemler"][0]["jeffreys"];
  ASSERT_EQ(bands.size(), 5u);
  EXPECT_EQ(picked(bands[4], {"bant", "firma", "yi", "ort_olasilik"}),
            ordered_json({{"bant", "%50-100"}, {"firma", 1}, {"yi", 1}, {"ort_olasilik", 0.6}}));
  EXPECT_EQ(bands[4]["yon"], "dusuk_tahmin");
  EXPECT_TRUE(yis["donemler"][0]["brier"].is_number());

  const BandScale fixed = band_scale(ScoreScale::kProbability, {0.05, 0.1, 0.3, 0.5});
  EXPECT_EQ(fixed.band(0.0499), 0u);
  EXPECT_EQ(fixed.band(0.05), 1u);
  EXPECT_EQ(fixed.band(1.0), 4u);
  EXPECT_EQ(band_scale(ScoreScale::kScore).band(-5), 0u);
  EXPECT_EQ(band_scale(ScoreScale::kScore).band(825), 3u);
  EXPECT_EQ(band_scale(ScoreScale::kProbability, {0.0123, 0.1}).labels,
            std::vector<std::string>({"%0-1,23", "%1,23-10", "%10-100"}));
}

// With a champion in the inventory, the ML probabilities are banded by the champion's own
// edges and compared with its training window; its validation period is not tested
// against the AUC measured on that very period.
TEST(ModelMeasures, TheMlModelIsBandedAndReferencedByItsChampion) {
  MeasuresDb db;
  {
    Connection con(db.path);
    con.execute(
        "CREATE TABLE backtest_ml_tahmin (entity_id BIGINT, donem VARCHAR, yi_prob DOUBLE);"
        "INSERT INTO backtest_ml_tahmin VALUES (1, '2024-01', 0.05), (2, '2024-01', 0.02), (3, '2024-01', 0.4),"
        " (4, '2024-01', 0.08), (5, '2024-01', 0.6), (6, '2024-01', 0.3), (1, '2024-02', 0.4), (2, '2024-02', 0.03),"
        " (3, '2024-02', 0.05), (4, '2024-02', 0.15);"
        "CREATE TABLE ml_model_envanter (model_id VARCHAR, tur VARCHAR, rol VARCHAR, egitim_zamani VARCHAR,"
        " egitim_baslangic VARCHAR, egitim_bitis VARCHAR, dogrulama_donemi VARCHAR, veri_hash VARCHAR, satir BIGINT,"
        " pozitif BIGINT, dogrulama_n BIGINT, dogrulama_yi BIGINT, dogrulama_auc DOUBLE, dogrulama_brier DOUBLE,"
        " ozellikler VARCHAR, parametreler VARCHAR, bant_sinirlari VARCHAR, bant_referans VARCHAR, ozellik_referans VARCHAR);"
        "INSERT INTO ml_model_envanter VALUES ('m1', 'xgb', 'sampiyon', '2024-03-01 02:00:00', '2023-07', '2023-12',"
        " '2024-02', 'ab', 100, 5, 4, 1, 0.9, 0.1, '[\"skor\"]', '{}', '[0.1]', '[3, 1]',"
        " '{\"skor\": {\"sinirlar\": [500], \"sayilar\": [2, 2]}}');"
        "CREATE TABLE ml_features (entity_id BIGINT, donem VARCHAR, skor DOUBLE);"
        "INSERT INTO ml_features VALUES (1, '2024-01', 100), (2, '2024-01', 600), (3, '2024-01', 700),"
        " (4, '2024-01', 200), (1, '2024-02', 100), (2, '2024-02', 200), (3, '2024-02', 300), (4, '2024-02', 900);");
  }
  const ordered_json ml = db.measure()[2];
  EXPECT_EQ(ml["bantlar"], ordered_json({"%0-10", "%10-100", "YI"}));
  EXPECT_EQ(ml["referans"]["tur"], "egitim");
  EXPECT_EQ(ml["referans"]["model_id"], "m1");
  ASSERT_EQ(ml["donemler"].size(), 2u);
  const ordered_json& january = ml["donemler"][0];
  const ordered_json& february = ml["donemler"][1];
  EXPECT_EQ(january["dagilim"], ordered_json({3, 3}));
  EXPECT_EQ(january["psi"], rounded(*population_stability({3, 1}, {3, 3})));
  EXPECT_EQ(february["dagilim"], ordered_json({2, 2}));
  // January: events 5 (0.6) and 6 (0.3) against four others, 6 below firm 3 (0.4): 7/8.
  EXPECT_EQ(january["auc"], 0.875);
  EXPECT_TRUE(january["auc_p"].is_number());
  EXPECT_TRUE(february["auc_p"].is_null());  // the validation period itself

  const ordered_json& features = ml["ozellik_kararliligi"];
  EXPECT_EQ(features["ozellikler"], ordered_json({"skor"}));
  ASSERT_EQ(features["donemler"].size(), 2u);
  EXPECT_EQ(features["donemler"][0]["psi"][0], 0.0);  // two below 500 and two above, as at training
  EXPECT_EQ(features["donemler"][1]["psi"][0], rounded(*population_stability({2, 2}, {3, 1})));
}

// A model with few distinct scores (a tree model's leaves) ties thousands of cells,
// which the database's threads hand over in any order.
TEST(ModelMeasures, TiedScoresAreSortedByCell) {
  ModelScores scores;
  for (std::uint32_t cell = 0; cell < 100000; ++cell) scores.push_back({(cell * 7919 % 5) / 10.0, cell});
  std::shuffle(scores.begin(), scores.end(), std::mt19937(1));
  sort_scored_cells(scores);
  const auto out_of_order = std::adjacent_find(scores.begin(), scores.end(), [](const ScoredCell& a, const ScoredCell& b) {
    const double x = a.score, y = b.score;
    return x > y || (x == y && a.cell >= b.cell);
  });
  EXPECT_EQ(out_of_order, scores.end()) << "at " << out_of_order - scores.begin();
}

TEST(ModelMeasures, AModelWithoutItsColumnIsExplainedAndAFailingTableFailsTheRun) {
  MeasuresDb db;
  {
    Connection con(db.path);
    con.execute("CREATE TABLE backtest_ml_tahmin (entity_id BIGINT, donem VARCHAR, olasilik DOUBLE)");
  }
  const ordered_json models = db.measure();
  EXPECT_EQ(models[2]["eksik"], "ML walk-forward backtest tahminleri (YI olasılığı) okunamıyor: backtest_ml_tahmin "
                                "tablosunda yi_prob sütunu yok (backtest_ml adımı)");
  EXPECT_TRUE(models[0].contains("donemler"));  // the others are still measured
  EXPECT_TRUE(models[1].contains("donemler"));
  {
    Connection con(db.path);
    // raw_eus becomes a view that fails when read: a score text that is no number.
    con.execute("CREATE TABLE eus_metin AS SELECT muta_no, donem, CASE WHEN muta_no = 3 THEN 'bozuk' ELSE "
                "CAST(eus_skor AS VARCHAR) END AS metin FROM raw_eus;"
                "DROP TABLE raw_eus;"
                "CREATE VIEW raw_eus AS SELECT muta_no, donem, CAST(metin AS DOUBLE) AS eus_skor FROM eus_metin;");
  }
  try {
    db.measure();
    ADD_FAILURE() << "a failing table was measured";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("raw_eus"), std::string::npos) << error.what();
  }
}

// The event definition's edge cases: a firm whose next period is unknown (no score, or
// no row) is left out and counted; a firm in YI with one unknown month that is in YI
// again is no new event; pooled figures at the backtest's alarm threshold.
TEST(ModelMeasures, FirmsWithoutAKnownNextPeriodAreLeftOutAndCounted) {
  TempDir dir;
  const std::string path = (dir / "vrd.duckdb").string();
  {
    Connection con(path, Connection::Open::kCreate);
    con.execute(
        "CREATE TABLE fact_periodic (entity_id BIGINT, donem VARCHAR, vrd_skor VARCHAR, kombine_risk DOUBLE);"
        "INSERT INTO fact_periodic VALUES"
        " (11, '2024-01', '500', 1), (11, '2024-02', NULL, 1), (11, '2024-03', 'YI', 1),"  // unknown month, then YI
        " (12, '2024-01', 'YI', 1), (12, '2024-02', NULL, 1), (12, '2024-03', 'YI', 1),"   // YI throughout but a month
        " (13, '2024-01', '600', 1),"                                                       // leaves after 2024-01
        " (14, '2024-01', '800', 1), (14, '2024-02', 'YI', 1), (14, '2024-03', 'YI', 1),"  // the one event
        " (15, '2024-01', '100', 1), (15, '2024-02', '200', 1), (15, '2024-03', '300', 1);"
        "CREATE TABLE raw_eus (muta_no BIGINT, donem INTEGER, eus_skor DOUBLE);"
        "INSERT INTO raw_eus SELECT entity_id, CAST(replace(donem, '-', '') AS INTEGER), 100 * entity_id - 1000 "
        "FROM fact_periodic WHERE donem < '2024-03';"
        "CREATE TABLE backtest_esikler (model VARCHAR, esik DOUBLE); INSERT INTO backtest_esikler VALUES ('eus', 300);");
  }
  const ordered_json eus = measures_of(path)[0];
  const std::vector<std::string> names = {"n", "yi", "sonraki_bilinmeyen", "durumu_bilinmeyen", "skorlu"};
  // 2024-01: 14 (event) and 15 count; 11 and 13 have no known next period; 12 is in YI.
  EXPECT_EQ(picked(eus["donemler"][0], names),
            ordered_json({{"n", 2}, {"yi", 1}, {"sonraki_bilinmeyen", 2}, {"durumu_bilinmeyen", 0}, {"skorlu", 4}}));
  // 2024-02: 11 and 12 have a score but no known state; only 15 counts.
  EXPECT_EQ(picked(eus["donemler"][1], names),
            ordered_json({{"n", 1}, {"yi", 0}, {"sonraki_bilinmeyen", 0}, {"durumu_bilinmeyen", 2}, {"skorlu", 1}}));
  EXPECT_EQ(eus["esik"], 300.0);
  // Pooled at the threshold 300 (scores are 100 x firm - 1000): 14 (400) raised the alarm
  // and reached YI; 15 (500) raised it in both periods without reaching YI.
  EXPECT_EQ(picked(eus["havuz"], {"n", "yi", "tp", "fp", "fn", "tn", "precision", "recall", "az_olay"}),
            ordered_json({{"n", 3}, {"yi", 1}, {"tp", 1}, {"fp", 2}, {"fn", 0}, {"tn", 0}, {"precision", 0.3333},
                          {"recall", 1.0}, {"az_olay", true}}));
  EXPECT_EQ(eus["segmentler"][1]["segment"], "KOBI");
  EXPECT_EQ(eus["segmentler"][1]["n"], 3);
  EXPECT_EQ(eus["segmentler"][0]["n"], 0);
  // Three periods leave no room for a horizon of three months or more.
  EXPECT_EQ(eus["ufuklar"][0], ordered_json({{"ay", 3}, {"eksik", "Veri yetmez: 3 ay sonrası bilinen dönem yok."}}));
}

// A portfolio of random scores with many ties, YI more likely after a high score, firms
// without a score and firms leaving: the AUC of every period matches scikit-learn's
// roc_auc_score over the same cells (tests/pipeline/sklearn_auc.py).
TEST(ModelMeasures, AucAgreesWithScikitLearn) {
  TempDir dir;
  const std::filesystem::path cells = dir / "cells.csv";
  const std::vector<std::string> periods = {"2023-10", "2023-11", "2023-12", "2024-01"};
  {
    std::ofstream out(cells);
    out << "entity_id,donem,vrd_skor,skor\n";
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> score(0, 100);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int firm = 1; firm <= 600; ++firm) {
      bool yi = false;
      for (const std::string& period : periods) {
        if (unit(random) < 0.03) break;  // the firm leaves the portfolio
        const int value = score(random) * 10;
        const bool scored = unit(random) > 0.05;
        out << firm << ',' << period << ',' << (yi ? std::string("YI") : std::to_string(value)) << ','
            << (scored ? std::to_string(value) : std::string()) << '\n';
        yi = yi || unit(random) < 0.02 + 0.15 * value / 1000.0;
      }
    }
  }
  ordered_json ours;
  {
    const std::string path = (dir / "vrd.duckdb").string();
    Connection con(path, Connection::Open::kCreate);
    const std::string source = "read_csv('" + cells.string() + "', header = true, all_varchar = true)";
    con.execute("CREATE TABLE fact_periodic AS SELECT CAST(entity_id AS BIGINT) AS entity_id, donem, vrd_skor, "
                "1.0 AS kombine_risk FROM " + source + ";"
                "CREATE TABLE raw_eus AS SELECT CAST(entity_id AS BIGINT) AS muta_no, CAST(replace(donem, '-', '') AS INTEGER) "
                "AS donem, TRY_CAST(skor AS DOUBLE) AS eus_skor FROM " + source + ";");
  }
  ours = measures_of((dir / "vrd.duckdb").string())[0]["donemler"];

  ChildOptions options;
  options.timeout = std::chrono::seconds(60);
  const ChildResult sklearn =
      run_child({"/usr/bin/python3", std::string(VORDAK_SOURCE_DIR) + "/tests/pipeline/sklearn_auc.py", cells.string()}, options);
  if (sklearn.exit_status == 3) GTEST_SKIP() << "scikit-learn is missing (Debian: python3-sklearn): " << sklearn.err;
  ASSERT_EQ(sklearn.exit_status, 0) << sklearn.err;
  const ordered_json theirs = ordered_json::parse(sklearn.out);

  ASSERT_EQ(ours.size(), periods.size());
  for (const ordered_json& period : ours) {
    const std::string label = period["donem"];
    SCOPED_TRACE(label);
    if (label == periods.back()) {
      EXPECT_TRUE(period["auc"].is_null());
      continue;
    }
    ASSERT_TRUE(theirs[label].is_number());
    EXPECT_NEAR(period["auc"].get<double>(), theirs[label].get<double>(), 0.5e-4 + 1e-12);
    EXPECT_EQ(period["auc"].get<double>(), round_half_even(theirs[label].get<double>(), 4));
    EXPECT_GT(period["n"].get<int>(), 400);
  }
}

}  // namespace
}  // namespace vordak::pipeline
