#include "pipeline/model_inventory.h"

#include <gtest/gtest.h>

#include "core/number_text.h"
#include "pipeline/auc_delong.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

constexpr const char* kInventory =
    "CREATE TABLE ml_model_envanter (model_id VARCHAR, tur VARCHAR, rol VARCHAR, egitim_zamani VARCHAR, "
    "egitim_baslangic VARCHAR, egitim_bitis VARCHAR, dogrulama_donemi VARCHAR, veri_hash VARCHAR, satir BIGINT, "
    "pozitif BIGINT, dogrulama_n BIGINT, dogrulama_yi BIGINT, dogrulama_auc DOUBLE, dogrulama_brier DOUBLE, "
    "ozellikler VARCHAR, parametreler VARCHAR, bant_sinirlari VARCHAR, bant_referans VARCHAR, ozellik_referans VARCHAR);"
    "INSERT INTO ml_model_envanter VALUES"
    " ('yeni', 'xgb', 'sampiyon', '2024-02-01 02:00:00', '2023-01', '2023-11', '2023-12', 'ab12', 900, 30, 8, 3,"
    "  0.71, 0.02, '[\"skor\"]', '{\"max_depth\": 3}', '[0.01, 0.1]', '[50, 30, 20]',"
    "  '{\"skor\": {\"sinirlar\": [500], \"sayilar\": [60, 40]}}'),"
    " ('rakibi', 'lojistik', 'rakip', '2024-02-01 02:00:00', '2023-01', '2023-11', '2023-12', 'ab12', 900, 30, 8, 3,"
    "  0.66, 0.03, '[\"skor\"]', '{\"C\": 1}', '[0.02]', '[70, 30]', '{}'),"
    " ('eski', 'xgb', 'arsiv', '2024-01-01 02:00:00', '2023-01', '2023-10', '2023-11', 'cd34', 800, 25, 7, 2,"
    "  0.69, 0.02, '[\"skor\"]', '{}', '[0.01]', '[50, 50]', '{}');"
    "CREATE TABLE ml_model_dogrulama (model_id VARCHAR, entity_id BIGINT, donem VARCHAR, yi_prob DOUBLE, hedef_yi INTEGER);"
    "INSERT INTO ml_model_dogrulama VALUES"
    " ('yeni', 1, '2023-12', 0.9, 1), ('yeni', 2, '2023-12', 0.8, 0), ('yeni', 3, '2023-12', 0.7, 1),"
    " ('yeni', 4, '2023-12', 0.2, 0), ('yeni', 5, '2023-12', 0.1, 0),"
    " ('rakibi', 1, '2023-12', 0.5, 1), ('rakibi', 2, '2023-12', 0.6, 0), ('rakibi', 3, '2023-12', 0.4, 1),"
    " ('rakibi', 4, '2023-12', 0.3, 0), ('rakibi', 5, '2023-12', 0.2, 0)";

TEST(ModelInventory, ListsTheModelsAndComparesTheChampionWithItsChallenger) {
  TempDir dir;
  Connection con((dir / "m.duckdb").string(), Connection::Open::kCreate);
  EXPECT_EQ(read_model_inventory(con).page["eksik"], "Model envanteri yok: ml_train adımı henüz model eğitmedi.");
  con.execute(kInventory);
  const ModelInventory inventory = read_model_inventory(con);
  const ordered_json& models = inventory.page["modeller"];
  ASSERT_EQ(models.size(), 3u);
  EXPECT_EQ(models[0]["model_id"], "yeni");  // newest first, the champion before its challenger
  EXPECT_EQ(models[2]["model_id"], "eski");
  EXPECT_EQ(models[0]["egitim_penceresi"], "2023-01 – 2023-11");
  EXPECT_EQ(models[0]["dogrulama"], ordered_json({{"n", 8}, {"yi", 3}, {"auc", 0.71}, {"brier", 0.02}}));
  EXPECT_EQ(inventory.page["sampiyon"], "yeni");
  ASSERT_TRUE(inventory.champion);
  EXPECT_EQ(inventory.champion->band_edges, std::vector<double>({0.01, 0.1}));
  EXPECT_EQ(inventory.champion->reference_bands, std::vector<std::size_t>({50, 30, 20}));
  ASSERT_EQ(inventory.champion->features.size(), 1u);
  EXPECT_EQ(inventory.champion->features[0].counts, std::vector<std::size_t>({60, 40}));

  // The paired test over the five firms both scored; the champion's AUC (5/6) becomes the
  // reference of its monitoring, in place of the recorded 0.71.
  const std::vector<bool> outcomes = {true, false, true, false, false};
  const AucComparison expected = *delong_compare({0.9, 0.8, 0.7, 0.2, 0.1}, {0.5, 0.6, 0.4, 0.3, 0.2}, outcomes);
  const ordered_json& test = inventory.page["karsilastirma"];
  EXPECT_EQ(test["sampiyon"], "yeni");
  EXPECT_EQ(test["rakip"], "rakibi");
  EXPECT_EQ(test["n"], 5);
  EXPECT_EQ(test["yi"], 2);
  EXPECT_EQ(test["sampiyon_auc"]["auc"], round_half_even(expected.first.auc, 4));
  EXPECT_EQ(test["p"], round_half_even(expected.p_value, 4));
  EXPECT_NEAR(*inventory.champion->validation_auc, 5.0 / 6, 1e-12);
  EXPECT_EQ(inventory.champion->validation_period, "2023-12");

  // A champion whose bands and counts disagree is not used, and the page says why.
  con.execute("UPDATE ml_model_envanter SET bant_referans = '[1, 2]' WHERE model_id = 'yeni'");
  const ModelInventory broken = read_model_inventory(con);
  EXPECT_FALSE(broken.champion);
  EXPECT_EQ(broken.page["eksik"], "Envanter kaydı okunamadı (yeni: bant_referans holds 2 counts for 3 bands).");
}

}  // namespace
}  // namespace vordak::pipeline
