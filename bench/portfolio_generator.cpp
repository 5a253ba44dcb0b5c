#include "bench/portfolio_generator.h"

#include <stdexcept>

#include "pipeline/duckdb_connection.h"

namespace vordak::bench {

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
  //   under 100, <860 enters YI after high scores (caught), <885 enters YI from low
  //   scores (missed), <905 enters YI after a jump, <930 YI throughout, <950 YI since k,
  //   the rest random. About 2% of scores are missing.
  con.execute(fill(R"SQL(
    CREATE OR REPLACE TABLE fact_periodic AS
    WITH p AS (
      SELECT t, strftime(DATE '2023-01-01' + to_months(t::INTEGER), '%Y-%m') AS donem FROM range({P}) r(t)
    ), cell AS (
      SELECT f.entity_id, p.t, p.donem, f.profile, f.pivot_period AS k, f.base_risk, f.level,
             (vrd_u(f.entity_id * 1000 + p.t, 11) * 40 - 20) AS noise,
             vrd_u(f.entity_id * 1000 + p.t, 12) AS u_missing,
             vrd_u(f.entity_id * 1000 + p.t, 13) AS u_risk
      FROM vrd_gen_firm f, p
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
          WHEN profile < 860 THEN CASE WHEN t = {LAST} THEN -1 ELSE 880 + noise END
          WHEN profile < 885 THEN CASE WHEN t = {LAST} THEN -1 ELSE 300 + noise END
          WHEN profile < 905 THEN CASE WHEN t = {LAST} THEN -1 WHEN t = {LAST} - 1 THEN 700 + noise ELSE 100 + noise * 0.5 END
          WHEN profile < 930 THEN -1
          WHEN profile < 950 THEN CASE WHEN t >= k THEN -1 ELSE 600 + noise END
          ELSE vrd_u(entity_id * 1000 + t, 14) * 1000
        END AS score
      FROM cell
    )
    SELECT entity_id, donem,
           CASE WHEN u_missing < 0.02 THEN NULL
                WHEN score = -1 THEN 'YI'
                ELSE round(greatest(0, least(1000, score)))::INTEGER::VARCHAR END AS vrd_skor,
           CASE WHEN u_risk < 0.03 THEN NULL
                ELSE round(base_risk * (1 + 0.02 * t) * (0.95 + 0.1 * u_risk), 2) END AS kombine_risk,
           round(base_risk * 0.02 * (u_risk - 0.4), 2) AS risk_degisim,
           round(base_risk * 0.3 * u_risk, 2) AS depo_risk,
           round(base_risk * 0.6 * (1 + 0.02 * t), 2) AS nakit_risk,
           round(base_risk * 0.4 * (1 + 0.02 * t), 2) AS gnakit_risk
    FROM scored
    ORDER BY donem, entity_id)SQL"));
  con.execute("DROP TABLE vrd_gen_firm; DROP MACRO vrd_u;");
}

}  // namespace vordak::bench
