#include "motor/registry.h"

namespace vordak::motor {

namespace {

const std::vector<std::string> kIngestSources = {
    "ingest_kik",  "ingest_kredi", "ingest_yis", "ingest_eus",    "ingest_hedef_kapsam",
    "ingest_statik", "ingest_train", "ingest_rkd", "ingest_memzuc", "ingest_depo",
};

std::vector<std::string> collect_ingest_steps() {
  std::vector<std::string> keys;
  for (const auto& [key, record] : ADIM_REGISTRY) {
    if (is_ingest_step(key)) keys.push_back(key);
  }
  return keys;
}

}  // namespace

// Declared in this order on purpose: the registry-derived list needs the registry.
const OrderedTable<std::vector<std::string>> BAGIMLILIK({
    {"ingest_ddl", {}},
    {"ingest_kik", {"ingest_ddl"}},
    {"ingest_kredi", {"ingest_ddl"}},
    {"ingest_yis", {"ingest_ddl"}},
    {"ingest_eus", {"ingest_ddl"}},
    {"ingest_hedef_kapsam", {"ingest_ddl"}},
    {"ingest_statik", {"ingest_ddl"}},
    {"ingest_train", {"ingest_ddl"}},
    {"ingest_rkd", {"ingest_ddl"}},
    {"ingest_memzuc", {"ingest_ddl"}},
    {"ingest_depo", {"ingest_ddl"}},
    {"transform", kIngestSources},
    {"ml_features", {"transform", "diag_features"}},
    {"ml_train", {"ml_features"}},
    {"ml_predict", {"ml_train", "marts"}},
    {"eus_diag", {"transform"}},
    {"diag_analysis", {"eus_diag"}},
    {"diag_features", {"eus_diag"}},
    {"marts", {"transform", "diag_analysis"}},
    {"export", {"marts"}},
    {"backtest_eus", {"transform"}},
    {"backtest_yis", {"transform"}},
    {"backtest_ml", {"ml_train", "transform"}},
    {"diag_unvan", {"transform"}},
    {"diag_risk", {"transform"}},
});

const OrderedTable<AdimKaydi> ADIM_REGISTRY({
    {"ingest_ddl", {"nb_01a_ingest_ddl.ipynb", "DB tablo oluşturma"}},
    {"ingest_kik", {"nb_01b_ingest_kik.ipynb", "KIK izleme CSV"}},
    {"ingest_kredi", {"nb_01c_ingest_kredi.ipynb", "Kredi risk parquet"}},
    {"ingest_yis", {"nb_01d_ingest_yis.ipynb", "YIS tahmin CSV"}},
    {"ingest_eus", {"nb_01e_ingest_eus.ipynb", "EUS tahmin CSV"}},
    {"ingest_hedef_kapsam", {"nb_01f_ingest_hedef_kapsam.ipynb", "EUS hedef+kapsam MUTA"}},
    {"ingest_statik", {"nb_01g_ingest_statik.ipynb", "Statik bilgiler TXT"}},
    {"ingest_train", {"nb_01h_ingest_train.ipynb", "Training features parquet"}},
    {"ingest_rkd", {"nb_01i_ingest_rkd.ipynb", "RKD kriter parquet"}},
    {"ingest_memzuc", {"nb_01k_ingest_memzuc.ipynb", "Memzuc parquet"}},
    {"ingest_depo", {"nb_01j_ingest_depo.ipynb", "Raporlama depo parquet"}},
    {"transform", {"nb_02_transform.ipynb", "Bronze → Silver (EUS patch dahil)"}},
    {"eus_diag", {"nb_06a_diag_extract.ipynb", "EUS kapsam dışı kalma teşhisi (extract)"}},
    {"diag_analysis", {"nb_06b_diag_analysis.ipynb", "Diagnostik analiz & özet tablolar"}},
    {"diag_features", {"nb_06c_diag_features.ipynb", "Diagnostik ML feature engineering"}},
    {"ml_features", {"nb_04a_ml_features.ipynb", "ML feature engineering"}},
    {"ml_train", {"nb_04b_ml_train.ipynb", "ML LightGBM eğitimi"}},
    {"ml_predict", {"nb_04c_ml_predict.ipynb", "ML tahmin + SHAP"}},
    {"marts", {"nb_03_marts.ipynb", "Scoreboard + Trending + HTML"}},
    {"backtest_eus", {"nb_05a_backtest_eus.ipynb", "EUS skor backtest"}},
    {"backtest_yis", {"nb_05b_backtest_yis.ipynb", "YIS skor backtest"}},
    {"backtest_ml", {"nb_05c_backtest_ml.ipynb", "ML scoreboard backtest"}},
    {"diag_unvan", {"nb_07a_diag_unvan.ipynb", "Unvan boşluk diagnostiği"}},
    {"diag_risk", {"nb_07b_diag_risk.ipynb", "Risk tutarlılık diagnostiği"}},
});

const std::vector<std::string> ALL_INGEST_STEPS = collect_ingest_steps();

bool is_ingest_step(std::string_view kod) { return kod.starts_with("ingest_"); }

std::vector<std::string> registry_keys() {
  std::vector<std::string> keys;
  for (const auto& [key, record] : ADIM_REGISTRY) keys.push_back(key);
  return keys;
}

}  // namespace vordak::motor
