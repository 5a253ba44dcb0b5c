#include "synth/model_outputs.h"

#include <string>
#include <vector>

#include "core/json_writer.h"
#include "core/number_text.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::synth {

namespace {

using pipeline::sql_literal;

// The quantiles `levels` of `column` in `from`, and how many rows fall in each bin
// between them: what ml_train keeps of its training window.
std::pair<std::vector<double>, std::vector<std::size_t>> quantile_bins(pipeline::Connection& con, const std::string& column,
                                                                      const std::string& from,
                                                                      const std::vector<double>& levels) {
  std::string select;
  for (double level : levels) select += (select.empty() ? "" : ", ") + ("quantile_cont(" + column + ", " + python_float_repr(level) + ")");
  const pipeline::Table quantiles = con.query("SELECT " + select + " FROM " + from);
  std::vector<double> edges;
  for (std::size_t k = 0; k < levels.size(); ++k) {
    const double edge = quantiles.column(k).number(0).value_or(0.0);
    if (edges.empty() || edge > edges.back()) edges.push_back(edge);
  }
  std::string bins = "0";
  for (double edge : edges) bins += " + (" + column + " >= " + python_float_repr(edge) + ")::INTEGER";
  const pipeline::Table counted = con.query("SELECT " + bins + " AS bin, count(*) FROM " + from + " GROUP BY 1");
  std::vector<std::size_t> counts(edges.size() + 1, 0);
  for (std::size_t i = 0; i < counted.num_rows(); ++i) {
    counts[static_cast<std::size_t>(counted.column(0).integer(i))] = static_cast<std::size_t>(counted.column(1).integer(i));
  }
  return {edges, counts};
}

// A champion, its challenger and an older model, as ml_train leaves them: the
// inventory, the validation period's predictions of both, the features the champion
// reads, and the alarm thresholds of the backtests.
void write_model_inventory(pipeline::Connection& con) {
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE ml_features AS
    SELECT entity_id, donem, coalesce(TRY_CAST(vrd_skor AS DOUBLE), 500) AS skor,
           floor(vrd_mo_u(entity_id * 100 + length(donem) + hash(donem) % 97, 26) * 40)::INTEGER AS gecikme_gun,
           round(vrd_mo_u(entity_id * 100 + hash(donem) % 89, 27), 3) AS limit_kullanim_orani
    FROM fact_periodic WHERE vrd_skor IS DISTINCT FROM 'YI' ORDER BY donem, entity_id;
    CREATE OR REPLACE TABLE backtest_esikler (model VARCHAR, esik DOUBLE);
    INSERT INTO backtest_esikler VALUES ('eus', 700), ('yis', 0.5), ('ml', 0.5);)SQL");
  const pipeline::Table periods = con.query("SELECT DISTINCT donem FROM backtest_ml_tahmin ORDER BY 1");
  if (periods.num_rows() < 2) return;
  const std::string first = std::string(periods.column(0).text(0));
  const std::string validation = std::string(periods.column(0).text(periods.num_rows() - 1));
  const std::string window_end = std::string(periods.column(0).text(periods.num_rows() - 2));
  const std::string training =
      "(SELECT * FROM backtest_ml_tahmin WHERE donem < " + sql_literal(validation) + ")";
  const auto [band_edges, band_counts] = quantile_bins(con, "yi_prob", training, {0.5, 0.75, 0.9, 0.97});
  ordered_json features = ordered_json::object();
  const std::vector<double> deciles = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
  for (const char* name : {"skor", "gecikme_gun", "limit_kullanim_orani"}) {
    const auto [edges, counts] =
        quantile_bins(con, name, "(SELECT * FROM ml_features WHERE donem < " + sql_literal(validation) + ")", deciles);
    features[name] = {{"sinirlar", edges}, {"sayilar", counts}};
  }
  con.execute(R"SQL(
    CREATE OR REPLACE TABLE ml_model_dogrulama AS
    WITH sonraki AS (
      SELECT entity_id, donem, lead(vrd_skor) OVER (PARTITION BY entity_id ORDER BY donem) AS sonraki_skor FROM fact_periodic
    )
    SELECT m.model_id, t.entity_id, t.donem,
           CASE WHEN m.model_id LIKE '%lojistik%'
                THEN round(least(0.99, greatest(0.0005, t.yi_prob * 0.8 + vrd_mo_u(t.entity_id, 28) * 0.04)), 6)
                ELSE t.yi_prob END AS yi_prob,
           (s.sonraki_skor = 'YI')::INTEGER AS hedef_yi
    FROM backtest_ml_tahmin t JOIN sonraki s USING (entity_id, donem),
         (VALUES ('yi-xgb-20240105-020000-5e1f0c2a'), ('yi-lojistik-20240105-020000-5e1f0c2a')) m(model_id)
    WHERE t.donem = )SQL" + sql_literal(validation) + R"SQL( AND s.sonraki_skor IS NOT NULL
    ORDER BY m.model_id, t.entity_id)SQL");
  const std::string params = R"({"objective": "binary:logistic", "max_depth": 3, "eta": 0.08, "seed": 20240601})";
  const std::string json_features = ordered_json({"skor", "gecikme_gun", "limit_kullanim_orani"}).dump();
  const auto row = [&](const std::string& id, const char* kind, const char* role, const std::string& trained,
                       const std::string& edges, const std::string& counts) {
    std::string values = "(" + sql_literal(id) + ", '" + kind + "', '" + role + "'";
    for (const std::string& text : {trained, first, window_end, validation}) values += ", " + sql_literal(text);
    values += ", '5e1f0c2a9b7d4e6f', 0, 0, 0, 0, NULL, NULL";
    for (const std::string& text : {json_features, params, edges, counts, features.dump()}) {
      values += ", " + sql_literal(text);
    }
    return values + ")";
  };
  const std::string edges = ordered_json(band_edges).dump(), counts = ordered_json(band_counts).dump();
  con.execute(
      "CREATE OR REPLACE TABLE ml_model_envanter (model_id VARCHAR, tur VARCHAR, rol VARCHAR, egitim_zamani VARCHAR, "
      "egitim_baslangic VARCHAR, egitim_bitis VARCHAR, dogrulama_donemi VARCHAR, veri_hash VARCHAR, satir BIGINT, "
      "pozitif BIGINT, dogrulama_n BIGINT, dogrulama_yi BIGINT, dogrulama_auc DOUBLE, dogrulama_brier DOUBLE, "
      "ozellikler VARCHAR, parametreler VARCHAR, bant_sinirlari VARCHAR, bant_referans VARCHAR, ozellik_referans VARCHAR);"
      "INSERT INTO ml_model_envanter VALUES " +
      row("yi-xgb-20240105-020000-5e1f0c2a", "xgb", "sampiyon", "2024-01-05 02:00:00", edges, counts) + ", " +
      row("yi-lojistik-20240105-020000-5e1f0c2a", "lojistik", "rakip", "2024-01-05 02:00:00", edges, counts) + ", " +
      row("yi-xgb-20231205-020000-81aa07c3", "xgb", "arsiv", "2023-12-05 02:00:00", edges, counts) + ";" +
      // The measures at training, from the validation predictions.
      "UPDATE ml_model_envanter e SET dogrulama_n = d.n, dogrulama_yi = d.yi, satir = 10 * d.n, pozitif = 10 * d.yi, "
      "dogrulama_brier = d.brier FROM (SELECT model_id, count(*) AS n, sum(hedef_yi) AS yi, "
      "avg(pow(yi_prob - hedef_yi, 2)) AS brier FROM ml_model_dogrulama GROUP BY 1) d WHERE d.model_id = e.model_id;");
}

}  // namespace

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
           round(0.5 + vrd_mo_u(fold, 18) * 0.2, 4) AS recall_val, round(0.45 + vrd_mo_u(fold, 19) * 0.2, 4) AS f1,
           (20 + floor(vrd_mo_u(fold, 29) * 20))::INTEGER AS tp, (15 + floor(vrd_mo_u(fold, 30) * 20))::INTEGER AS fp,
           (10 + floor(vrd_mo_u(fold, 31) * 20))::INTEGER AS fn, (4000 + floor(vrd_mo_u(fold, 32) * 500))::INTEGER AS tn
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
  write_model_inventory(con);
  con.execute("ALTER TABLE ml_yi_tahmin ADD COLUMN model_id VARCHAR DEFAULT 'yi-xgb-20240105-020000-5e1f0c2a';"
              "DROP MACRO vrd_mo_u;");
}

}  // namespace vordak::synth
