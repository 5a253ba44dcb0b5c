#include "synth/model_outputs.h"

#include "pipeline/duckdb_connection.h"

namespace vordak::synth {

void generate_model_outputs(const std::string& db_path, std::uint64_t seed) {
  pipeline::Connection con(db_path);
  const std::string s = std::to_string(seed % 1000000007);
  // u(x, k): a uniform number in [0, 1) from a key, a salt and the seed.
  con.execute("CREATE OR REPLACE MACRO vrd_mo_u(x, k) AS (hash(x, k, " + s + ") % 1000000)::DOUBLE / 1000000.0;");
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE ml_yi_tahmin AS
    SELECT entity_id,
           round(least(0.99, coalesce(TRY_CAST(vrd_skor AS DOUBLE), 1000) / 1000.0 * 0.33 + vrd_mo_u(entity_id, 1) * 0.05), 4)
             AS yi_prob
    FROM fact_periodic WHERE donem = (SELECT max(donem) FROM fact_periodic) ORDER BY entity_id)SQL");

  con.execute(R"SQL(
    CREATE OR REPLACE TABLE diag_eus_kapsam_diskalma AS
    WITH recent AS (SELECT DISTINCT donem FROM fact_periodic ORDER BY donem DESC LIMIT 2)
    SELECT f.entity_id AS muta, CAST(replace(f.donem, '-', '') AS INTEGER) AS donem,
           ['EUS', 'YIS', 'KAPSAM'][floor(vrd_mo_u(f.entity_id, 2) * 3)::INTEGER + 1] AS katman,
           ['gecikme_gun', 'limit_asim', 'teminat_acigi', 'ciro_dusus'][floor(vrd_mo_u(f.entity_id, 3) * 4)::INTEGER + 1] AS kriter,
           round(vrd_mo_u(f.entity_id * 100 + length(f.donem), 4) * 120, 2) AS deger,
           CASE WHEN vrd_mo_u(f.entity_id, 5) < 0.3 THEN NULL ELSE round(vrd_mo_u(f.entity_id, 6) * 90, 2) END AS onceki_deger,
           'Kriter eşiği aşıldı' AS aciklama,
           ['Gecikme', 'Limit', 'Teminat'][floor(vrd_mo_u(f.entity_id, 7) * 3)::INTEGER + 1] AS grup,
           CASE WHEN f.donem = (SELECT max(donem) FROM recent) AND vrd_mo_u(f.entity_id, 8) < 0.4 THEN 1 ELSE 0 END AS yeni
    FROM fact_periodic f JOIN recent r ON f.donem = r.donem
    WHERE vrd_mo_u(f.entity_id, 9) < 0.02
    ORDER BY muta, donem)SQL");

  for (const char* model : {"eus", "yis"}) {
    con.execute(std::string("CREATE OR REPLACE TABLE backtest_") + model + R"SQL( AS
    WITH periods AS (SELECT DISTINCT donem FROM fact_periodic ORDER BY donem)
    SELECT CAST(replace(donem, '-', '') AS INTEGER) AS donem, tp, fp, fn, tn,
           round(tp / (tp + fp), 4) AS precision_val, round(tp / (tp + fn), 4) AS recall_val,
           round(2.0 * tp / (2 * tp + fp + fn), 4) AS f1
    FROM (SELECT donem,
                 (40 + floor(vrd_mo_u(hash(donem), 10) * 60))::INTEGER AS tp,
                 (20 + floor(vrd_mo_u(hash(donem), 11) * 80))::INTEGER AS fp,
                 (10 + floor(vrd_mo_u(hash(donem), 12) * 40))::INTEGER AS fn,
                 (5000 + floor(vrd_mo_u(hash(donem), 13) * 1000))::INTEGER AS tn
          FROM periods))SQL");
    con.execute(std::string("CREATE OR REPLACE TABLE backtest_") + model + R"SQL(_firma AS
    WITH recent AS (SELECT DISTINCT donem FROM fact_periodic ORDER BY donem DESC LIMIT 3)
    SELECT f.entity_id, CAST(replace(f.donem, '-', '') AS INTEGER) AS donem,
           ['TP', 'FP', 'FN', 'TN'][floor(vrd_mo_u(f.entity_id, 14) * 4)::INTEGER + 1] AS kategori,
           f.vrd_skor AS skor
    FROM fact_periodic f JOIN recent r ON f.donem = r.donem
    WHERE vrd_mo_u(f.entity_id, 15) < 0.005
    ORDER BY entity_id, donem)SQL");
  }
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE backtest_ml AS
    SELECT fold, round(0.78 + vrd_mo_u(fold, 16) * 0.1, 4) AS auc, round(0.4 + vrd_mo_u(fold, 17) * 0.2, 4) AS precision_val,
           round(0.5 + vrd_mo_u(fold, 18) * 0.2, 4) AS recall_val, round(0.45 + vrd_mo_u(fold, 19) * 0.2, 4) AS f1
    FROM range(1, 6) t(fold))SQL");
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE backtest_ml_firma AS
    SELECT entity_id, donem, kategori, skor FROM backtest_eus_firma WHERE vrd_mo_u(entity_id, 20) < 0.5)SQL");
  // The scores of the extracts (periods as YYYYMM numbers) and the walk-forward ML
  // probabilities, drawn around the early-warning score so that they rank the firms
  // that reach YI reasonably well, and the drivers of the latest predictions.
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE raw_eus AS
    SELECT entity_id AS muta_no, CAST(replace(donem, '-', '') AS INTEGER) AS donem,
           round(least(1000, greatest(0, coalesce(TRY_CAST(vrd_skor AS DOUBLE), 950)
                                         + vrd_mo_u(entity_id::VARCHAR || donem, 21) * 240 - 120))) AS eus_skor
    FROM fact_periodic ORDER BY donem, muta_no)SQL");
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE raw_yis AS
    SELECT entity_id AS muta_no, CAST(replace(donem, '-', '') AS INTEGER) AS donem,
           round(least(0.99, greatest(0.001, power(coalesce(TRY_CAST(vrd_skor AS DOUBLE), 950) / 1000, 3)
                                             + vrd_mo_u(entity_id::VARCHAR || donem, 22) * 0.2 - 0.1)), 4) AS yis_olasilik
    FROM fact_periodic ORDER BY donem, muta_no)SQL");
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE backtest_ml_tahmin AS
    WITH folds AS (
      SELECT donem, row_number() OVER (ORDER BY donem) AS fold
      FROM (SELECT DISTINCT donem FROM fact_periodic ORDER BY donem DESC LIMIT 4 OFFSET 1)
    )
    SELECT f.entity_id, f.donem,
           round(least(0.99, greatest(0.0005, power(TRY_CAST(f.vrd_skor AS DOUBLE) / 1000, 4)
                                              + vrd_mo_u(f.entity_id::VARCHAR || f.donem, 23) * 0.1 - 0.05)), 6) AS yi_prob,
           folds.fold
    FROM fact_periodic f JOIN folds USING (donem)
    WHERE TRY_CAST(f.vrd_skor AS DOUBLE) IS NOT NULL ORDER BY f.donem, f.entity_id)SQL");
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE ml_yi_aciklama AS
    SELECT t.entity_id, s.sira,
           ['skor', 'gecikme_gun', 'skor_d3', 'limit_kullanim_orani', 'banka_sayisi']
             [(floor(vrd_mo_u(t.entity_id, 24) * 5)::INTEGER + s.sira) % 5 + 1] AS ozellik,
           round((vrd_mo_u(t.entity_id * 10 + s.sira, 25) - 0.3) * 2 / s.sira, 4) AS katki
    FROM ml_yi_tahmin t, range(1, 4) s(sira) ORDER BY t.entity_id, s.sira)SQL");
  con.execute("DROP MACRO vrd_mo_u;");
}

}  // namespace vordak::synth
