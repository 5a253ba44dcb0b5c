#include "synth/portfolio_generator.h"

#include <filesystem>
#include <stdexcept>

#include "pipeline/duckdb_connection.h"

namespace vordak::synth {

namespace {

// Branch names (district or city) and the region each belongs to.
const char* const kRegions[] = {
    "İstanbul Avrupa Bölge", "İstanbul Anadolu Bölge", "Ankara Bölge",   "İzmir Bölge",
    "Bursa Bölge",           "Akdeniz Bölge",          "Karadeniz Bölge", "Güneydoğu Anadolu Bölge",
    "Doğu Anadolu Bölge",    "İç Anadolu Bölge",       "Trakya Bölge",    "Ege Bölge"};
const char* const kBranches[] = {
    "Şişli",      "Beşiktaş",  "Bakırköy",  "Kadıköy",   "Üsküdar",    "Ataşehir",  "Çankaya",  "Ulus",
    "Keçiören",   "Konak",     "Karşıyaka", "Bornova",   "Osmangazi",  "Nilüfer",   "İnegöl",   "Muratpaşa",
    "Mersin",     "Adana",     "Trabzon",   "Samsun",    "Giresun",    "Gaziantep", "Şanlıurfa", "Diyarbakır",
    "Erzurum",    "Van",       "Malatya",   "Konya",     "Kayseri",    "Eskişehir", "Tekirdağ", "Edirne",
    "Çorlu",      "Denizli",   "Aydın",     "Manisa",    "Muğla",      "Uşak",      "Sakarya",  "Kocaeli"};
const char* const kTitleWords[] = {"Yıldız",   "Güneş",  "Ege",     "Doğan",  "Özkan",   "Çelik",  "Şahin",
                                   "Akdeniz",  "Karadağ", "Işık",   "Ünal",   "Aydın",   "Bereket", "Gökçe",
                                   "Anadolu",  "Başak",  "Deniz",   "Ersoy",  "Tuna",    "Kaya"};
const char* const kTitleTrades[] = {"Tekstil San. ve Tic. A.Ş.", "Gıda Ltd. Şti.", "İnşaat Taah. A.Ş.",
                                    "Lojistik ve Taşımacılık A.Ş.", "Otomotiv Yedek Parça Ltd. Şti.",
                                    "Tarım Ürünleri Tic. Ltd. Şti.", "Enerji Üretim A.Ş.", "Mobilya Dekorasyon Ltd. Şti.",
                                    "Kimya Sanayi A.Ş.", "Turizm İşletmeleri A.Ş."};

std::string sql_text_list(const char* const* items, std::size_t count) {
  std::string list = "[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) list += ", ";
    list += "'" + std::string(items[i]) + "'";
  }
  return list + "]";
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A firm's latent risk in period index t (0 = the first period): a lasting part of the
// firm's own and a part drawn anew every period, both logistic. Entering "YI" in the
// next period is drawn from it, and so are the model inputs of the source extracts (EUS
// and YIS scores, days past due, limit use, bounced cheques), each with noise of its own:
// no input is drawn from the outcome itself. vrd_logit_u(x, k) is a logistic draw.
constexpr const char* kLatentRisk = R"SQL(
  CREATE OR REPLACE MACRO vrd_logit_u(x, k) AS
    ln((hash(x, k, {SEED}) % 999999 + 1) / (1000000 - (hash(x, k, {SEED}) % 999999 + 1)));
  CREATE OR REPLACE MACRO vrd_latent_risk(id, t) AS 0.9 * vrd_logit_u(id, 20) + 0.5 * vrd_logit_u(id * 1000 + t, 21);)SQL";

}  // namespace

void generate_portfolio(const std::string& db_path, const PortfolioOptions& options) {
  if (options.firms < 1 || options.periods < 1) throw std::invalid_argument("firms and periods must be at least 1");
  pipeline::Connection con(db_path, pipeline::Connection::Open::kCreate);
  const std::size_t branch_count = sizeof kBranches / sizeof *kBranches;
  const std::size_t region_count = sizeof kRegions / sizeof *kRegions;
  auto fill = [&](std::string sql) {
    sql = replace_all(sql, "{N}", std::to_string(options.firms));
    sql = replace_all(sql, "{P}", std::to_string(options.periods));
    sql = replace_all(sql, "{LAST}", std::to_string(options.periods - 1));
    sql = replace_all(sql, "{SEED}", std::to_string(options.seed % 1000000007));
    sql = replace_all(sql, "{BRANCHES}", sql_text_list(kBranches, branch_count));
    sql = replace_all(sql, "{NB}", std::to_string(branch_count));
    sql = replace_all(sql, "{REGIONS}", sql_text_list(kRegions, region_count));
    sql = replace_all(sql, "{NR}", std::to_string(region_count));
    sql = replace_all(sql, "{WORDS}", sql_text_list(kTitleWords, sizeof kTitleWords / sizeof *kTitleWords));
    sql = replace_all(sql, "{NW}", std::to_string(sizeof kTitleWords / sizeof *kTitleWords));
    sql = replace_all(sql, "{TRADES}", sql_text_list(kTitleTrades, sizeof kTitleTrades / sizeof *kTitleTrades));
    sql = replace_all(sql, "{NT}", std::to_string(sizeof kTitleTrades / sizeof *kTitleTrades));
    return sql;
  };
  // u(x, k): a uniform number in [0, 1) from the firm key, a salt and the seed.
  con.execute(fill(
      "CREATE OR REPLACE MACRO vrd_u(x, k) AS (hash(x, k, {SEED}) % 1000000)::DOUBLE / 1000000.0;"));

  // Branches: three per name (one per service area), each tied to a region.
  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE ref_sube_bolge AS
    SELECT (b * 3 + a + 101)::INTEGER AS sube_kodu,
           {BRANCHES}[b + 1] || CASE a WHEN 0 THEN ' Şubesi' WHEN 1 THEN ' Ticari Şubesi' ELSE ' Kurumsal Şubesi' END AS sube_adi,
           (b % {NR} + 1)::INTEGER AS bolge_kodu,
           {REGIONS}[b % {NR} + 1] AS bolge_adi
    FROM range({NB}) r(b), range(3) s(a)
    ORDER BY sube_kodu)SQL"));

  // Firms: a segment mix of all four segments and a score profile per firm.
  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE vrd_gen_firm AS
    SELECT i AS entity_id,
           CASE WHEN vrd_u(i, 1) < 0.40 THEN 'KOBI' WHEN vrd_u(i, 1) < 0.75 THEN 'MIKRO'
                WHEN vrd_u(i, 1) < 0.90 THEN 'ESKK' ELSE 'KUR-TIC' END AS segment,
           (floor(vrd_u(i, 2) * {NB} * 3) + 101)::INTEGER AS sube_kodu,
           floor(vrd_u(i, 3) * 1000)::INTEGER AS profile,
           floor(vrd_u(i, 4) * ({LAST} - 1))::INTEGER + 1 AS pivot_period,
           pow(10, 4.5 + 4.0 * vrd_u(i, 5)) AS base_risk,
           floor(vrd_u(i, 6) * 1000)::INTEGER AS level
    FROM range(1000001, 1000001 + {N}) t(i))SQL"));

  con.execute(R"SQL(
    CREATE OR REPLACE TABLE dim_entity AS
    SELECT f.entity_id, f.segment, f.sube_kodu, sb.bolge_kodu,
           ['A1', 'A2', 'B1', 'B2', 'C'][f.profile % 5 + 1] AS son_izleme_kodu,
           (f.level % 7 + 1)::INTEGER AS risk_grup_kodu,
           ['Ticari', 'Kurumsal', 'KOBİ'][f.level % 3 + 1] AS pgy,
           ['İşletme', 'Yatırım', 'Dış Ticaret', 'Proje'][f.profile % 4 + 1] AS finansman_konu,
           ['Şube', 'Bölge', 'Genel Müdürlük'][f.level % 3 + 1] AS tahsis_onay_birimi
    FROM vrd_gen_firm f JOIN ref_sube_bolge sb ON f.sube_kodu = sb.sube_kodu
    ORDER BY f.entity_id)SQL");

  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE map_identity AS
    SELECT entity_id,
           {WORDS}[floor(vrd_u(entity_id, 7) * {NW})::INTEGER + 1] || ' ' ||
           {WORDS}[floor(vrd_u(entity_id, 8) * {NW})::INTEGER + 1] || ' ' ||
           {TRADES}[floor(vrd_u(entity_id, 9) * {NT})::INTEGER + 1] AS unvan
    FROM vrd_gen_firm ORDER BY entity_id)SQL"));

  // Scores per profile (t = period index, L = last index, k = the firm's pivot period):
  //   <400 steady low, <520 steady mid, <600 persistently high, <680 steady riser,
  //   <740 low but rising, <790 crossing after an early 325-500 signal, <830 jump from
  //   under 100, <880 high with swings, <905 random, <930 YI throughout, the rest random.
  // Each score also follows the firm's latent risk. A firm enters YI in period t + 1 with
  // a chance that rises with its latent risk in period t, and stays there; about 1.5 % of
  // the firms outside YI enter it each period. About 2% of scores are missing.
  con.execute(fill(kLatentRisk));
  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE vrd_gen_entry AS
    SELECT f.entity_id, min(r.t) + 1 AS k
    FROM vrd_gen_firm f, range({LAST}) r(t)
    WHERE (f.profile < 905 OR f.profile >= 930)
      AND vrd_u(f.entity_id * 1000 + r.t, 15) < 1 / (1 + exp(5.0 - 0.75 * vrd_latent_risk(f.entity_id, r.t)))
    GROUP BY f.entity_id)SQL"));
  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE fact_periodic AS
    WITH p AS (
      SELECT t, strftime(DATE '2023-01-01' + to_months(t::INTEGER), '%Y-%m') AS donem FROM range({P}) r(t)
    ), cell AS (
      SELECT f.entity_id, p.t, p.donem, f.profile, f.pivot_period AS k, e.k AS entry, f.base_risk, f.level,
             (vrd_u(f.entity_id * 1000 + p.t, 11) * 40 - 20) AS noise,
             vrd_u(f.entity_id * 1000 + p.t, 12) AS u_missing,
             vrd_u(f.entity_id * 1000 + p.t, 13) AS u_risk,
             vrd_latent_risk(f.entity_id, p.t) AS latent
      FROM vrd_gen_firm f CROSS JOIN p LEFT JOIN vrd_gen_entry e ON e.entity_id = f.entity_id
    ), scored AS (
      SELECT *,
        CASE
          WHEN profile < 400 THEN 40 + level * 0.25 + noise
          WHEN profile < 520 THEN 340 + level * 0.4 + noise
          WHEN profile < 600 THEN 850 + level * 0.12 + noise * 0.5
          WHEN profile < 680 THEN 150 + t * 700.0 / greatest({LAST}, 1) + noise * 0.3
          WHEN profile < 740 THEN 200 + greatest(0, t - ({LAST} - 4)) * 60 + noise * 0.2
          WHEN profile < 790 THEN CASE WHEN t = {LAST} THEN 650 + noise ELSE 380 + noise END
          WHEN profile < 830 THEN CASE WHEN t = {LAST} THEN 600 + noise WHEN t >= k THEN 400 + noise ELSE 50 + noise END
          WHEN profile < 880 THEN 780 + level * 0.1 + noise * 3
          WHEN profile < 905 THEN vrd_u(entity_id * 1000 + t, 14) * 1000
          WHEN profile < 930 THEN -1
          ELSE vrd_u(entity_id * 1000 + t, 14) * 1000
        END + CASE WHEN profile < 905 OR profile >= 930 THEN 30 * latent ELSE 0 END AS score
      FROM cell
    )
    SELECT entity_id, donem,
           CASE WHEN (entry IS NOT NULL AND t >= entry) OR score = -1 THEN 'YI'
                WHEN u_missing < 0.02 THEN NULL
                ELSE round(greatest(0, least(1000, score)))::INTEGER::VARCHAR END AS vrd_skor,
           CASE WHEN u_risk < 0.03 THEN NULL
                ELSE round(base_risk * (1 + 0.02 * t) * (0.95 + 0.1 * u_risk), 2) END AS kombine_risk,
           round(base_risk * 0.02 * (u_risk - 0.4), 2) AS risk_degisim,
           round(base_risk * 0.3 * u_risk, 2) AS depo_risk,
           round(base_risk * 0.6 * (1 + 0.02 * t), 2) AS nakit_risk,
           round(base_risk * 0.4 * (1 + 0.02 * t), 2) AS gnakit_risk
    FROM scored
    ORDER BY donem, entity_id)SQL"));
  con.execute("DROP TABLE vrd_gen_firm; DROP TABLE vrd_gen_entry; DROP MACRO vrd_latent_risk; DROP MACRO vrd_logit_u; "
              "DROP MACRO vrd_u;");
}

namespace {

// Per firm and period, everything the source systems report, derived from the generated
// tables. The model inputs (EUS score, YIS probability, training features) follow the
// firm's latent risk in that period with noise of their own, as the entry into "YI" in
// the next period does (kLatentRisk): the backtests and the trained model have something
// to find and nothing to read off the outcome. The YIS probability runs about twice too
// high, which its calibration tests show. Only the training extract's target (HEDEF_YI)
// is the outcome itself.
constexpr const char* kSourceCells = R"SQL(
  CREATE OR REPLACE MACRO src_u(id, p, k) AS (hash(id, p, k, {SEED}) % 1000000)::DOUBLE / 1000000.0;
  CREATE OR REPLACE TABLE src_cell AS
  WITH base AS (
    SELECT f.*, d.segment,
           replace(f.donem, '-', '')::INTEGER AS period_no,
           date_diff('month', DATE '2023-01-01', strptime(f.donem, '%Y-%m')::DATE) AS t,
           CASE WHEN f.vrd_skor = 'YI' THEN 1000 ELSE TRY_CAST(f.vrd_skor AS DOUBLE) END AS score_num,
           coalesce(lead(f.vrd_skor) OVER (PARTITION BY f.entity_id ORDER BY f.donem) = 'YI', false)
             AND coalesce(f.vrd_skor, '') <> 'YI' AS yi_next
    FROM fact_periodic f JOIN dim_entity d USING (entity_id)
  ), latent AS (
    SELECT *, vrd_latent_risk(entity_id, t) AS risk FROM base
  ), noisy AS (
    SELECT *,
           greatest(0, round(8 + 9 * (risk + 1.2 * vrd_logit_u(entity_id * 1000 + t, 30) / 1.81)))::INTEGER AS gecikme_gun,
           round(0.25 + 0.8 * src_u(entity_id, 0, 2) + 0.1 * (src_u(entity_id, period_no, 2) - 0.5), 3) AS teminat_orani,
           round(0.5 + 0.5 * coalesce(score_num, 500) / 1000 + 0.3 * src_u(entity_id, period_no, 3) + 0.04 * risk, 3)
             AS limit_asim_orani,
           round(least(1.2, greatest(0, 0.3 + 0.6 * coalesce(score_num, 400) / 1000 + 0.2 * src_u(entity_id, period_no, 4)
                 + 0.04 * risk)), 3) AS limit_kullanim_orani,
           (src_u(entity_id, period_no, 5) < 1 / (1 + exp(4.2 - 0.8 * risk)))::INTEGER AS cek_karsiliksiz,
           least(1000, greatest(0, round(500 + 100 * (risk + 1.6 * vrd_logit_u(entity_id * 1000 + t, 31) / 1.81))))::INTEGER
             AS eus_skor,
           round(1 / (1 + exp(4.3 - 0.7 * (risk + 1.4 * vrd_logit_u(entity_id * 1000 + t, 32) / 1.81))), 4) AS yis_olasilik,
           src_u(entity_id, period_no, 8) < 0.05 AS kik_eksik,
           segment IN ('KOBI', 'MIKRO', 'ESKK') AND kombine_risk IS NOT NULL AS hedef
    FROM latent
  )
  SELECT *, hedef AND gecikme_gun < 60 AND teminat_orani >= 0.35 AND limit_asim_orani < 1.15 AS kapsam
  FROM noisy;
  CREATE OR REPLACE TABLE src_firm AS
  SELECT d.*, m.unvan,
         CASE WHEN src_u(d.entity_id, 0, 9) < 0.01 THEN ''
              WHEN src_u(d.entity_id, 0, 9) < 0.02 THEN '  ' || replace(m.unvan, ' ', '  ')
              ELSE m.unvan END AS unvan_kaynak
  FROM dim_entity d LEFT JOIN map_identity m USING (entity_id))SQL";

struct Extract {
  const char* dir;        // data-source key
  const char* file;       // file name; "{D}" is replaced by the period number
  const char* format;     // COPY options
  bool per_period;
  const char* select;     // rows; "{D}" restricts them to one period
};

constexpr const char* kCsv = "FORMAT csv, HEADER, DELIMITER ';'";
constexpr const char* kText = "FORMAT csv, HEADER, DELIMITER '|'";
constexpr const char* kParquet = "FORMAT parquet";

const Extract kExtracts[] = {
    {"kik_data_ham_csv", "kik_izleme_{D}.csv", kCsv, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, CASE WHEN kik_eksik THEN NULL ELSE vrd_skor END AS VRD_SKOR, "
     "CASE WHEN vrd_skor = 'YI' THEN 'YAKIN IZLEME' ELSE 'IZLEMEDE' END AS IZLEME_DURUMU "
     "FROM src_cell WHERE period_no = {D} ORDER BY entity_id"},
    {"kredi_db", "kredi_risk.parquet", kParquet, false,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, nakit_risk AS NAKIT_RISK, gnakit_risk AS GNAKIT_RISK, "
     "kombine_risk AS KOMBINE_RISK, risk_degisim AS RISK_DEGISIM FROM src_cell ORDER BY period_no, entity_id"},
    {"yis_tahmin_data", "yis_tahmin_{D}.csv", kCsv, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, yis_olasilik AS YIS_OLASILIK, "
     "(yis_olasilik >= 0.5)::INTEGER AS YIS_SINIF FROM src_cell WHERE period_no = {D} ORDER BY entity_id"},
    {"eus_tahmin_data", "eus_tahmin_{D}.csv", kCsv, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, eus_skor AS EUS_SKOR, vrd_skor AS VRD_SKOR "
     "FROM src_cell WHERE period_no = {D} ORDER BY entity_id"},
    {"eus_hedef_muta", "eus_hedef_{D}.csv", kCsv, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM FROM src_cell WHERE hedef AND period_no = {D} ORDER BY entity_id"},
    {"eus_sql_kapsam_muta", "eus_kapsam_{D}.csv", kCsv, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, 'SQL_KAPSAM' AS KAYNAK FROM src_cell "
     "WHERE kapsam AND period_no = {D} ORDER BY entity_id"},
    {"statik_db", "statik_firma.txt", kText, false,
     "SELECT entity_id AS MUTA_NO, unvan_kaynak AS UNVAN, segment AS SEGMENT, sube_kodu AS SUBE_KODU, "
     "bolge_kodu AS BOLGE_KODU, son_izleme_kodu AS SON_IZLEME_KODU, risk_grup_kodu AS RISK_GRUP_KODU, pgy AS PGY, "
     "finansman_konu AS FINANSMAN_KONU, tahsis_onay_birimi AS TAHSIS_ONAY_BIRIMI FROM src_firm ORDER BY entity_id"},
    {"statik_db", "sube_bolge.txt", kText, false,
     "SELECT sube_kodu AS SUBE_KODU, sube_adi AS SUBE_ADI, bolge_kodu AS BOLGE_KODU, bolge_adi AS BOLGE_ADI "
     "FROM ref_sube_bolge ORDER BY sube_kodu"},
    {"yis_train_data", "yis_train.parquet", kParquet, false,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, gecikme_gun AS GECIKME_GUN, "
     "limit_kullanim_orani AS LIMIT_KULLANIM_ORANI, cek_karsiliksiz AS CEK_KARSILIKSIZ, "
     "yi_next::INTEGER AS HEDEF_YI FROM src_cell WHERE coalesce(vrd_skor, '') <> 'YI' ORDER BY period_no, entity_id"},
    {"rkd_donem_data", "rkd_{D}.parquet", kParquet, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, k.kriter AS KRITER, "
     "CASE k.kriter WHEN 'GECIKME_GUN' THEN gecikme_gun::DOUBLE WHEN 'TEMINAT_ORANI' THEN teminat_orani "
     "ELSE limit_asim_orani END AS DEGER "
     "FROM src_cell, (VALUES ('GECIKME_GUN'), ('TEMINAT_ORANI'), ('LIMIT_ASIM_ORANI')) k(kriter) "
     "WHERE hedef AND period_no = {D} ORDER BY entity_id, k.kriter"},
    {"memzuc_data_donem", "memzuc_{D}.parquet", kParquet, true,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, "
     "round(nakit_risk * (1.1 + 0.8 * src_u(entity_id, 0, 10)), 2) AS MEMZUC_NAKIT, "
     "round(gnakit_risk * (1.1 + 0.8 * src_u(entity_id, 0, 11)), 2) AS MEMZUC_GNAKIT, "
     "(1 + floor(6 * src_u(entity_id, 0, 12)))::INTEGER AS BANKA_SAYISI "
     "FROM src_cell WHERE period_no = {D} AND nakit_risk IS NOT NULL ORDER BY entity_id"},
    {"raporlama_depo", "depo_risk.parquet", kParquet, false,
     "SELECT entity_id AS MUTA_NO, period_no AS DONEM, depo_risk AS DEPO_RISK FROM src_cell "
     "ORDER BY period_no, entity_id"},
};

}  // namespace

std::vector<std::string> write_source_extracts(const std::string& root, const PortfolioOptions& options) {
  namespace fs = std::filesystem;
  fs::create_directories(root);
  // The portfolio is generated into a scratch database and read back from there.
  const fs::path scratch = fs::path(root) / ".portfolio.duckdb";
  fs::remove(scratch);
  generate_portfolio(scratch.string(), options);
  std::vector<std::string> dirs;
  {
    pipeline::Connection con(scratch.string(), pipeline::Connection::Open::kExisting);
    const std::string seed = std::to_string(options.seed % 1000000007);
    con.execute(replace_all(kLatentRisk, "{SEED}", seed));
    con.execute(replace_all(kSourceCells, "{SEED}", seed));
    const pipeline::Table periods = con.query("SELECT DISTINCT period_no FROM src_cell ORDER BY 1");
    for (const Extract& extract : kExtracts) {
      const fs::path dir = fs::path(root) / extract.dir;
      fs::create_directories(dir);
      if (dirs.empty() || dirs.back() != extract.dir) dirs.emplace_back(extract.dir);
      std::vector<std::string> labels = {""};
      if (extract.per_period) {
        labels.clear();
        for (std::size_t row = 0; row < periods.num_rows(); ++row) {
          labels.push_back(std::to_string(periods.column(0).integer(row)));
        }
      }
      for (const std::string& label : labels) {
        const std::string file = (dir / replace_all(extract.file, "{D}", label)).string();
        con.execute("COPY (" + replace_all(extract.select, "{D}", label) + ") TO " + pipeline::sql_literal(file) + " (" +
                    extract.format + ")");
      }
    }
  }
  fs::remove(scratch);
  fs::remove(fs::path(scratch.string() + ".wal"));
  return dirs;
}

}  // namespace vordak::synth
