#include "pipeline/marts.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include "core/env.h"
#include "core/io_error.h"
#include "pipeline/cleaning.h"
#include "pipeline/enrichment.h"
#include "pipeline/manager_filter.h"
#include "pipeline/trending.h"
#include "page_files.h"
#include "scoreboard_fixture.h"
#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;

// An analytic database at <dir>/data/vrd.duckdb with three periods and four firms.
struct MartRunDb {
  TempDir dir;
  std::string path = (dir / "data" / "vrd.duckdb").string();

  MartRunDb() {
    std::filesystem::create_directories(dir / "data");
    Connection con(path, Connection::Open::kCreate);
    con.execute(
        "CREATE TABLE fact_periodic (entity_id BIGINT, donem VARCHAR, vrd_skor VARCHAR, kombine_risk DOUBLE, "
        "risk_degisim DOUBLE);"
        "INSERT INTO fact_periodic VALUES (1, '2024-04', '300', 100, 0), (1, '2024-05', '400', 200, 0),"
        " (1, '2024-06', '600', 300, 0), (2, '2024-04', '900', 60000000, 0), (2, '2024-05', '900', 60000000, 0),"
        " (2, '2024-06', '900', 60000000, 0), (3, '2024-04', '880', 50, 0), (3, '2024-05', '900', 50, 0),"
        " (3, '2024-06', 'YI', 50, 0), (4, '2024-06', '100', 10, 0);"
        "CREATE TABLE dim_entity (entity_id BIGINT, segment VARCHAR, sube_kodu INTEGER, bolge_kodu INTEGER);"
        "INSERT INTO dim_entity VALUES (1, 'KOBI', 10, 1), (2, 'MIKRO', 20, 2), (3, 'KUR-TIC', 10, 1), (4, 'ESKK', 20, 2);"
        "CREATE TABLE map_identity (entity_id BIGINT, unvan VARCHAR);"
        "INSERT INTO map_identity VALUES (1, 'Yıldız A.Ş.'), (2, 'Ege </script> Ltd.'), (3, 'Doğan'), (4, 'Kaya');"
        "CREATE TABLE ref_sube_bolge (sube_kodu INTEGER, sube_adi VARCHAR, bolge_kodu INTEGER, bolge_adi VARCHAR);"
        "INSERT INTO ref_sube_bolge VALUES (10, 'Şişli', 1, 'İstanbul'), (20, 'Çankaya', 2, 'Ankara');");
  }
  void run(const std::string& sql) {
    Connection con(path);
    con.execute(sql);
  }
};

TEST(RunMarts, WritesEveryOutputWithTheConsoleLinesOfARun) {
  MartRunDb db;
  db.run("CREATE TABLE ml_yi_tahmin (entity_id BIGINT, yi_prob DOUBLE); INSERT INTO ml_yi_tahmin VALUES (1, 0.75), (9, 0.9)");
  StringSink sink;
  const auto [scoreboard, trending] = run_marts(db.path, std::nullopt, "_x", sink);
  const std::string& console = sink.text();
  const std::filesystem::path json = db.dir / "outputs" / "json";
  const std::filesystem::path html = db.dir / "outputs" / "html";
  EXPECT_EQ(console,
            "  Building scoreboard mart...\n"
            "    scoreboard: 4 entities, 3 periods\n"
            "  Exporting sube_bolge_ref.csv...\n"
            "    sube_bolge_ref.csv: 2 rows -> " + (json / "sube_bolge_ref_x.csv").string() + "\n"
            "  Building trending lists...\n"
            "    fastest_rising: 1 entities\n"
            "    regime_change: 1 entities\n"
            "    persistent_high: 1 entities\n"
            "    low_but_rising: 1 entities\n"
            "    caught_yi: 1 entities\n"
            "    missed_yi: 0 entities\n"
            "    -> " + (json / "sample_trending_lists_x.json").string() + "\n"
            "  [DIAG] Tablo yok, atlanıyor\n"
            "    trending flags: 3 entities enriched\n"
            "  Running ML predictions...\n"
            "  Building flow matrix...\n"
            "    2 dönem çifti, 5 akış, 5 segment\n"
            "    -> " + (json / "sample_scoreboard_x.json").string() + "\n"
            "  Rendering HTML dashboards...\n"
            "  Building admin data...\n"
            "  [BACKTEST] Tablo yok, atlanıyor\n"
            "  [ML] yi_prob >= 0.3: 1 firma\n"
            "  [MODEL] eus: EUS tahminleri (EUS skoru) yok (ingest_eus adımı)\n"
            "  [MODEL] yis: YIS tahminleri (YI olasılığı) yok (ingest_yis adımı)\n"
            "  [MODEL] ml: ML walk-forward backtest tahminleri (YI olasılığı) yok (backtest_ml adımı)\n"
            "  Rendering admin dashboard...\n"
            "  Publishing outputs...\n");
  for (const char* name : {"vrd_dashboard_x.html", "vrd_dashboard_yonetici_x.html", "vrd_dashboard_admin_x.html"}) {
    const std::string page = read_text(html / name);
    EXPECT_TRUE(page.ends_with("</html>\n")) << name;
    EXPECT_EQ(page.find("Ege </script>"), std::string::npos) << name;
  }
  EXPECT_NE(read_text(html / "vrd_dashboard_admin_x.html").find(R"("page_mode":"admin")"), std::string::npos);
  EXPECT_EQ(read_text(json / "sample_trending_lists_x.json"), to_json_text(trending, JsonWriter::Layout::kIndented));

  const ordered_json written = parse_json(read_text(json / "sample_scoreboard_x.json"));
  std::vector<std::string> members;
  for (const auto& [name, value] : written.items()) members.push_back(name);
  EXPECT_EQ(members, (std::vector<std::string>{"meta", "rows", "flow_matrix", "band_snapshot"}));
  EXPECT_EQ(written["meta"]["sube_listesi"].dump(), R"(["Çankaya","Şişli"])");
  EXPECT_EQ(written["rows"][0].dump(),
            R"({"muta":2,"unvan":"Ege </script> Ltd.","segment":"MIKRO","sube_kodu":20,"bolge_kodu":2,)"
            R"("vrd2024-04":900,"vrd2024-05":900,"vrd2024-06":900,"r2024-04":60000000.0,"r2024-05":60000000.0,)"
            R"("r2024-06":60000000.0,"rd2024-04":0.0,"rd2024-05":0.0,"rd2024-06":0.0,"son_risk":60000000,)"
            R"("df2024-04":0,"df2024-05":0,"df2024-06":0,"_hizli_yukselen":0,"_rejim_degisimi":0,"_potansiyel_yi":1,)"
            R"("_erken_sinyal":0,"_yakalanan":0,"_kacirilan":0,"_vrd_neden":"Son 3 dönemin 3 tanesinde skor >= 825"})");
  EXPECT_EQ(written["rows"][1]["_ml_yi_prob"], 0.75);
  EXPECT_EQ(written["rows"][1]["_vrd_neden"],
            "Son 3 dönemde +300 puan artış (şu an 600) | Band geçişi: Önceden 400 skor verilmişti, şimdi 600 | "
            "Erken sinyal: 600 skor, +300 artış");
}

// The band of a written score, or kNoBand.
std::int8_t band_of(const ordered_json& row, const std::string& period) {
  const std::string member = "vrd" + period;
  if (!row.contains(member) || row[member].is_null()) return kNoBand;
  if (row[member] == "YI") return kYiBand;
  return band_of_number(row[member].get<double>());
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// What one run writes must agree with itself: the console counts with the files, the
// row flags with the lists, the flows and snapshots with the rows' own bands.
TEST(RunMarts, OutputsAgreeWithEachOtherOnASyntheticPortfolio) {
  TempDir dir;
  std::filesystem::create_directories(dir / "data");
  const std::string db = (dir / "data" / "vrd.duckdb").string();
  synth::generate_portfolio(db, {.firms = 600, .periods = 7, .seed = 5});
  synth::generate_model_outputs(db, 5);
  StringSink sink;
  run_marts(db, std::nullopt, "", sink);
  const std::vector<std::string> lines = sink.lines();
  const std::filesystem::path json = dir / "outputs" / "json";
  const ordered_json written = parse_json(read_text(json / "sample_scoreboard.json"));
  const ordered_json trending = parse_json(read_text(json / "sample_trending_lists.json"));
  const ordered_json& rows = written["rows"];
  const ordered_json& periods = written["meta"]["donemler"];
  ASSERT_GT(rows.size(), 100u);
  const std::string last = periods.back().get<std::string>();

  EXPECT_TRUE(has_line(lines, "    scoreboard: " + std::to_string(rows.size()) + " entities, " +
                                  std::to_string(periods.size()) + " periods"));
  EXPECT_EQ(written["meta"]["n_muta"], rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_FALSE(rows[i].contains("sube_adi") || rows[i].contains("bolge_adi")) << i;
    if (i > 0) {
      EXPECT_GE(rows[i - 1]["son_risk"].get<double>(), rows[i]["son_risk"].get<double>()) << i;
    }
  }

  // Every list is counted on the console, capped, and never holds a firm in YI in the
  // four score lists; the row flags say exactly which lists a firm is on.
  std::map<std::int64_t, std::size_t> row_of;
  for (std::size_t i = 0; i < rows.size(); ++i) row_of[rows[i]["muta"].get<std::int64_t>()] = i;
  std::map<std::int64_t, std::set<std::string>> lists_of;
  std::size_t listed = 0;
  for (const auto& [list, flag] : TRENDING_FLAGS) {
    const ordered_json& entries = trending[std::string(list)];
    EXPECT_TRUE(has_line(lines, "    " + std::string(list) + ": " + std::to_string(entries.size()) + " entities"));
    EXPECT_LE(entries.size(), TRENDING_LIMIT);
    listed += entries.size();
    for (const ordered_json& entry : entries) {
      const ordered_json& row = rows[row_of.at(entry["muta"].get<std::int64_t>())];
      const bool yi_now = band_of(row, last) == kYiBand;
      EXPECT_EQ(yi_now, list == "caught_yi" || list == "missed_yi") << list << " " << entry.dump();
      lists_of[entry["muta"].get<std::int64_t>()].insert(std::string(flag));
    }
  }
  EXPECT_GT(listed, 0u);
  std::size_t flagged = 0;
  for (const ordered_json& row : rows) {
    const auto found = lists_of.find(row["muta"].get<std::int64_t>());
    bool any = false;
    for (const auto& [list, flag] : TRENDING_FLAGS) {
      const bool on_list = found != lists_of.end() && found->second.contains(std::string(flag));
      EXPECT_EQ(row[std::string(flag)], on_list ? 1 : 0) << row["muta"] << " " << flag;
      any = any || on_list;
    }
    EXPECT_EQ(row["_vrd_neden"].get<std::string>().empty(), !any) << row["muta"];
    flagged += any ? 1 : 0;
  }
  EXPECT_TRUE(has_line(lines, "    trending flags: " + std::to_string(flagged) + " entities enriched"));

  // Flows and snapshots count every row that has a band, once in "ALL" and once in its
  // own segment.
  const ordered_json& flows = written["flow_matrix"];
  std::size_t pairs = flows["ALL"].size(), moves = 0, segments = 0;
  for (const auto& [segment, list] : flows.items()) segments += list.empty() ? 0 : 1;
  for (std::size_t k = 0; k < flows["ALL"].size(); ++k) {
    const ordered_json& pair = flows["ALL"][k];
    moves += pair["flows"].size();
    std::int64_t counted = 0, by_segment = 0, banded = 0, in_segments = 0;
    for (const ordered_json& flow : pair["flows"]) counted += flow["count"].get<std::int64_t>();
    for (const auto& [segment, list] : flows.items()) {
      if (segment == "ALL") continue;
      for (const ordered_json& flow : list[k]["flows"]) by_segment += flow["count"].get<std::int64_t>();
    }
    for (const ordered_json& row : rows) {
      if (band_of(row, pair["from"].get<std::string>()) == kNoBand ||
          band_of(row, pair["to"].get<std::string>()) == kNoBand) {
        continue;
      }
      ++banded;
      const std::string segment =
          row.contains("segment") && row["segment"].is_string() ? row["segment"].get<std::string>() : "";
      in_segments += segment == "KUR-TIC" || segment == "KOBI" || segment == "MIKRO" || segment == "ESKK";
    }
    EXPECT_EQ(counted, banded) << pair["from"] << "->" << pair["to"];
    EXPECT_EQ(by_segment, in_segments) << pair["from"] << "->" << pair["to"];
  }
  EXPECT_EQ(pairs, std::min<std::size_t>(periods.size(), 6) - 1);
  EXPECT_TRUE(has_line(lines, "    " + std::to_string(pairs) + " dönem çifti, " + std::to_string(moves) + " akış, " +
                                  std::to_string(segments) + " segment"));
  for (const ordered_json& snapshot : written["band_snapshot"]["ALL"]) {
    std::int64_t counted = 0, banded = 0;
    for (const auto& [band, cell] : snapshot["bands"].items()) counted += cell["count"].get<std::int64_t>();
    for (const ordered_json& row : rows) banded += band_of(row, snapshot["donem"].get<std::string>()) != kNoBand;
    EXPECT_EQ(counted, banded) << snapshot["donem"];
  }

  std::size_t predicted = 0;
  for (const ordered_json& row : rows) predicted += row.contains("_ml_yi_prob") && row["_ml_yi_prob"] >= 0.3;
  EXPECT_GT(predicted, 0u);
  EXPECT_TRUE(has_line(lines, "  [ML] yi_prob >= 0.3: " + std::to_string(predicted) + " firma"));
  EXPECT_EQ(written.contains("diag_index"), !has_line(lines, "  [DIAG] Tablo yok, atlanıyor"));
  for (const char* name : {"vrd_dashboard.html", "vrd_dashboard_yonetici.html", "vrd_dashboard_admin.html"}) {
    EXPECT_TRUE(std::filesystem::exists(dir / "outputs" / "html" / name)) << name;
  }
}

TEST(RunMarts, SkipsMissingPredictionsAndAddsAFilledDiagIndex) {
  MartRunDb db;
  db.run("CREATE TABLE diag_eus_kapsam_diskalma (muta BIGINT, donem INTEGER, katman VARCHAR, kriter VARCHAR, "
         "deger DOUBLE, onceki_deger DOUBLE, aciklama VARCHAR); "
         "INSERT INTO diag_eus_kapsam_diskalma VALUES (1, 202406, 'K', 'k', 1, NULL, 'a')");
  const std::string out = (db.dir / "out").string() + "/";
  StringSink sink;
  run_marts(db.path, out, "", sink);
  const std::string& console = sink.text();
  EXPECT_NE(console.find("\n  Running ML predictions...\n  [ML] Skipping: "), std::string::npos) << console;
  EXPECT_NE(console.find("\n  [DIAG] 1 firma, 1 bulgu, 0 yeni bulgu yüklendi\n"), std::string::npos);
  EXPECT_NE(console.find("\n  [ML] yi_prob >= 0.3: 0 firma\n"), std::string::npos);
  const ordered_json written = parse_json(read_text(db.dir / "out" / "sample_scoreboard.json"));
  EXPECT_EQ(written["diag_index"].dump(),
            R"({"1":{"202406":{"bulgular":[{"katman":"K","kriter":"k","aciklama":"a","deger":1.0,"yeni":0}],"yeni_gruplar":[]}}})");
  EXPECT_FALSE(written["rows"][0].contains("_ml_yi_prob"));
  EXPECT_TRUE(std::filesystem::exists(db.dir / "html" / "vrd_dashboard.html"));
}

using testing::page_data;

// A clock stopped at one moment; the rest of the machine as it is.
class StoppedClock : public EnvWrapper {
 public:
  explicit StoppedClock(TimePoint at) : EnvWrapper(Env::system()), at_(at) {}
  TimePoint now() override { return at_; }

 private:
  TimePoint at_;
};

TEST(RunMarts, PagesSayWhenAndFromWhatTheyWereMadeAndOnlyTheAdminMeasuresTheModels) {
  MartRunDb db;
  // Firm 1's ids sort apart ("+1", "+5", "1"): its drivers are still one list.
  db.run("CREATE TABLE ml_yi_aciklama (entity_id VARCHAR, sira INTEGER, ozellik VARCHAR, katki DOUBLE);"
         "INSERT INTO ml_yi_aciklama VALUES ('1', 2, 'skor', -0.5), ('+1', 1, 'gecikme_gun', 1.25), ('+5', 1, 'skor', 0.1);"
         "CREATE TABLE raw_eus (muta_no BIGINT, donem INTEGER, eus_skor DOUBLE);"
         "INSERT INTO raw_eus VALUES (1, 202405, 300), (2, 202405, 900), (3, 202405, 600), (4, 202406, 100);"
         "CREATE TABLE ml_yi_tahmin (entity_id BIGINT, yi_prob DOUBLE, model_id VARCHAR);"
         "INSERT INTO ml_yi_tahmin VALUES (1, 0.2, 'yi-xgb-20240601-020000-ab12cd34')");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  StoppedClock clock(std::chrono::system_clock::from_time_t(1718445600));  // 2024-06-15 10:00 UTC
  StringSink sink;
  run_marts(db.path, std::nullopt, "", sink, {}, clock);
  const std::string console = sink.text();
  EXPECT_EQ(console.find("model"), std::string::npos) << console;  // nothing new on the console

  const std::filesystem::path html = db.dir / "outputs" / "html";
  for (const char* name : {"vrd_dashboard.html", "vrd_dashboard_yonetici.html", "vrd_dashboard_admin.html"}) {
    SCOPED_TRACE(name);
    const std::string page = read_text(html / name);
    // The page names the model that gave its YI probabilities.
    EXPECT_NE(page.find("<span>Oluşturulma: <b>15.06.2024 10:00</b></span> · <span>Veritabanı: <b>vrd.duckdb</b></span> · "
                        "<span>ML modeli: <b>yi-xgb-20240601-020000-ab12cd34</b></span>"),
              std::string::npos);
  }
  const ordered_json portfolio = page_data(read_text(html / "vrd_dashboard.html"));
  // Each firm's drivers and EUS history are in its record.
  const ordered_json& fields = portfolio["veri"]["panel_alanlari"];
  ASSERT_EQ(fields.back(), "eus");
  const std::size_t drivers = std::find(fields.begin(), fields.end(), "etkenler") - fields.begin();
  std::map<int, ordered_json> eus;
  const ordered_json table_parts = testing::data_json(html / "vrd_dashboard.html", "f-0");
  const ordered_json panel_parts = testing::data_json(html / "vrd_dashboard.html", "g-0");
  ASSERT_EQ(table_parts.size(), panel_parts.size());
  for (std::size_t i = 0; i < table_parts.size(); ++i) {
    const ordered_json& muta = table_parts[i][0];
    EXPECT_EQ(panel_parts[i][drivers], muta == 1 ? ordered_json::parse(R"([["gecikme_gun",1.25],["skor",-0.5]])") : ordered_json())
        << muta;
    eus[muta.get<int>()] = panel_parts[i].back();
  }
  EXPECT_EQ(eus, (std::map<int, ordered_json>{{1, {nullptr, 300.0, nullptr}}, {2, {nullptr, 900.0, nullptr}},
                                              {3, {nullptr, 600.0, nullptr}}, {4, {nullptr, nullptr, 100.0}}}));
  EXPECT_FALSE(portfolio["extra"].is_object());

  // 2024-05, the first period with EUS scores: firm 3 (600) reaches YI in 2024-06, firms
  // 1 (300) and 2 (900) do not.
  const ordered_json admin = page_data(read_text(html / "vrd_dashboard_admin.html"));
  const ordered_json& models = admin["extra"]["model_olcumleri"];
  ASSERT_EQ(models.size(), 3u);
  EXPECT_EQ(models[0]["donemler"][0]["donem"], "2024-05");
  EXPECT_EQ(models[0]["donemler"][0]["auc"], 0.5);
  EXPECT_EQ(models[1]["eksik"], "YIS tahminleri (YI olasılığı) yok (ingest_yis adımı)");
  std::vector<std::string> extra_members;
  for (const auto& [name, value] : admin["extra"].items()) extra_members.push_back(name);
  EXPECT_EQ(extra_members,
            (std::vector<std::string>{"backtest_summary", "backtest_firma", "ml_predictions", "page_mode", "model_olcumleri",
                                      "model_envanteri", "ml_tahmin_modeli", "veri_kalitesi"}));
  EXPECT_EQ(admin["extra"]["ml_tahmin_modeli"], "yi-xgb-20240601-020000-ab12cd34");
  for (const char* output : {"sample_scoreboard.json", "sample_trending_lists.json"}) {
    EXPECT_EQ(read_text(db.dir / "outputs" / "json" / output).find("model_olcumleri"), std::string::npos) << output;
    EXPECT_EQ(read_text(db.dir / "outputs" / "json" / output).find("ozellik"), std::string::npos) << output;
  }
}

TEST(RunMarts, ReportsAFailingPredictionRunnerAndGoesOn) {
  MartRunDb db;
  db.run("CREATE TABLE ml_yi_tahmin (entity_id VARCHAR, yi_prob DOUBLE); INSERT INTO ml_yi_tahmin VALUES ('1', 0.5), ('x', 0.9)");
  StringSink sink;
  const auto [scoreboard, trending] = run_marts(db.path, std::nullopt, "", sink);
  const std::string& console = sink.text();
  EXPECT_NE(console.find("\n  Running ML predictions...\n  [ML] Error: ml_yi_tahmin.entity_id holds a value that is not "
                         "an integer: x\n  Building flow matrix...\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(scoreboard.rows.find("_ml_yi_prob"), nullptr);
  EXPECT_TRUE(std::filesystem::exists(db.dir / "outputs" / "html" / "vrd_dashboard_admin.html"));
}

// The administrator's data is read beside the other pages: a failure there still fails
// the run where it would have, after the lines that came before it, and publishes nothing.
TEST(RunMarts, AFailingModelMeasureFailsTheRunAfterItsEarlierLines) {
  MartRunDb db;
  // The thresholds are read only for the measures.
  db.run("CREATE TABLE esik_metin (model VARCHAR, metin VARCHAR); INSERT INTO esik_metin VALUES ('eus', 'bozuk');"
         "CREATE VIEW backtest_esikler AS SELECT model, CAST(metin AS DOUBLE) AS esik FROM esik_metin;");
  StringSink sink;
  try {
    run_marts(db.path, std::nullopt, "", sink);
    ADD_FAILURE() << "the run went on";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("'bozuk'"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(sink.text().ends_with("  Rendering HTML dashboards...\n"
                                    "  Building admin data...\n"
                                    "  [BACKTEST] Tablo yok, atlanıyor\n"
                                    "  [ML] yi_prob >= 0.3: 0 firma\n"))
      << sink.text();
  EXPECT_FALSE(std::filesystem::exists(db.dir / "outputs" / "html" / "vrd_dashboard.html"));
}

TEST(RunMarts, FailsClearlyOnAMissingReferenceOrAnUnwritableOutput) {
  {
    MartRunDb db;
    db.run("DROP TABLE ref_sube_bolge");
    StringSink sink;
    try {
      run_marts(db.path, std::nullopt, "", sink);
      ADD_FAILURE() << "a database without ref_sube_bolge must fail";
    } catch (const DatabaseError& error) {
      EXPECT_EQ(std::string(error.what()),
                "the analytic database " + db.path + " has no table ref_sube_bolge (the marts are built from "
                "fact_periodic, dim_entity, map_identity and ref_sube_bolge)");
    }
  }
  {
    MartRunDb db;
    vordak::testing::write_text(db.dir / "blocked", "a file, not a directory");
    StringSink sink;
    try {
      run_marts(db.path, (db.dir / "blocked" / "json").string(), "", sink);
      ADD_FAILURE() << "an output directory under a file must fail";
    } catch (const IoError& error) {
      EXPECT_EQ(error.path(), db.dir / "blocked" / "json");
      EXPECT_EQ(error.code(), std::errc::not_a_directory) << error.what();
    }
  }
}

// The bytes of every file under the output directories, by path.
std::map<std::string, std::string> files_under(const std::filesystem::path& outputs) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(outputs)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(outputs)) {
    if (entry.is_regular_file()) files[entry.path().lexically_relative(outputs).string()] = read_text(entry.path());
  }
  return files;
}

// A disk that holds only `room` more bytes, shared by every file written through it.
class FullDiskEnv : public EnvWrapper {
 public:
  explicit FullDiskEnv(std::size_t room) : EnvWrapper(Env::system()), room_(room) {}

  std::unique_ptr<WritableFile> new_temporary_file(const std::filesystem::path& target, FileAccess access) override {
    take(0, target);
    return std::make_unique<File>(*this, target, EnvWrapper::new_temporary_file(target, access));
  }
  void write_new_file(const std::filesystem::path& path, std::string_view content, FileAccess access) override {
    take(content.size(), path);
    EnvWrapper::write_new_file(path, content, access);
  }
  void write_file_atomic(const std::filesystem::path& path, std::string_view content) override {
    take(content.size(), path);
    EnvWrapper::write_file_atomic(path, content);
  }

 private:
  class File : public WritableFile {
   public:
    File(FullDiskEnv& env, std::filesystem::path target, std::unique_ptr<WritableFile> file)
        : env_(env), target_(std::move(target)), file_(std::move(file)) {}
    const std::filesystem::path& path() const override { return file_->path(); }
    void append(std::string_view bytes) override {
      env_.take(bytes.size(), target_);
      file_->append(bytes);
    }
    void start_writeback() override { file_->start_writeback(); }
    void sync_and_close() override { file_->sync_and_close(); }

   private:
    FullDiskEnv& env_;
    std::filesystem::path target_;
    std::unique_ptr<WritableFile> file_;
  };

  // Several threads may write at once.
  void take(std::size_t bytes, const std::filesystem::path& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > room_) throw IoError("Dosya yazılamadı", path, ENOSPC);
    room_ -= bytes;
  }

  std::mutex mutex_;
  std::size_t room_;
};

// The outputs among them that are no page's data file: the JSON and CSV files and the
// pages.
std::size_t output_count(const std::map<std::string, std::string>& files) {
  return std::count_if(files.begin(), files.end(), [](const auto& file) { return file.first.find("_veri/") == std::string::npos; });
}

std::size_t total_size(const std::map<std::string, std::string>& files) {
  std::size_t total = 0;
  for (const auto& [name, bytes] : files) total += bytes.size();
  return total;
}

TEST(RunMarts, AFullDiskLeavesTheOldSetWholeAndNoTemporaryFile) {
  MartRunDb db;
  const std::filesystem::path outputs = db.dir / "outputs";
  StringSink sink;
  run_marts(db.path, std::nullopt, "", sink);
  const std::map<std::string, std::string> old_set = files_under(outputs);
  ASSERT_EQ(output_count(old_set), 6u);
  ASSERT_GT(old_set.size(), 6u);
  db.run("UPDATE fact_periodic SET kombine_risk = kombine_risk * 3 WHERE entity_id = 1");
  const std::size_t set_size = total_size(old_set);
  for (const std::size_t room : {std::size_t{0}, std::size_t{5000}, set_size / 3, set_size * 2 / 3, set_size - 1}) {
    SCOPED_TRACE("room " + std::to_string(room));
    FullDiskEnv full(room);
    try {
      run_marts(db.path, std::nullopt, "", sink, {}, full);
      ADD_FAILURE() << "the run succeeded on a full disk";
    } catch (const IoError& error) {
      EXPECT_EQ(error.code(), std::errc::no_space_on_device) << error.what();
    }
    EXPECT_EQ(files_under(outputs), old_set);
  }
  run_marts(db.path, std::nullopt, "", sink);
  const std::map<std::string, std::string> new_set = files_under(outputs);
  EXPECT_EQ(output_count(new_set), 6u);
  EXPECT_EQ(new_set.size(), old_set.size());  // the data of the earlier pages is gone with them
  EXPECT_NE(new_set.at("json/sample_scoreboard.json"), old_set.at("json/sample_scoreboard.json"));
}

// A small tmpfs mounted for the test: a disk that really fills. Needs the right to mount.
struct SmallFileSystem {
  vordak::testing::TempDir dir;
  bool mounted = false;
  explicit SmallFileSystem(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    mounted = ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) ::umount2(dir.path().c_str(), MNT_DETACH);
  }
};

TEST(RunMarts, ARealFullFileSystemLeavesTheOldSetWhole) {
  MartRunDb db;
  SmallFileSystem disk(8 << 20);
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here; the Env-made full disk covers the run";
  const std::filesystem::path outputs = disk.dir / "outputs";
  const std::string json_dir = (outputs / "json").string();
  StringSink sink;
  run_marts(db.path, json_dir, "", sink);
  const std::map<std::string, std::string> old_set = files_under(outputs);
  ASSERT_EQ(output_count(old_set), 6u);
  db.run("UPDATE fact_periodic SET kombine_risk = kombine_risk * 3 WHERE entity_id = 1");
  const struct statvfs before = [&] {
    struct statvfs info {};
    ::statvfs(disk.dir.path().c_str(), &info);
    return info;
  }();
  const std::size_t free_bytes = before.f_bavail * before.f_frsize;
  const std::size_t set_size = total_size(old_set);
  for (const std::size_t room : {std::size_t{0}, set_size / 2, set_size - 8192}) {
    SCOPED_TRACE("room " + std::to_string(room));
    {
      std::FILE* filler = std::fopen((disk.dir / "filler").c_str(), "wb");
      ASSERT_NE(filler, nullptr);
      const std::string block(4096, 'x');
      for (std::size_t written = 0; written + room < free_bytes; written += block.size()) {
        if (std::fwrite(block.data(), 1, block.size(), filler) != block.size()) break;
      }
      std::fclose(filler);
    }
    EXPECT_THROW(run_marts(db.path, json_dir, "", sink), std::runtime_error);
    EXPECT_EQ(files_under(outputs), old_set);
    std::filesystem::remove(disk.dir / "filler");
  }
  run_marts(db.path, json_dir, "", sink);
  EXPECT_NE(files_under(outputs).at("json/sample_scoreboard.json"), old_set.at("json/sample_scoreboard.json"));
}

TEST(RunMarts, RemovesWhatAKilledRunLeftInItsOutputDirectoriesOnly) {
  MartRunDb db;
  const std::filesystem::path json = db.dir / "outputs" / "json";
  const std::filesystem::path html = db.dir / "outputs" / "html";
  vordak::testing::write_text(json / ".sample_scoreboard.json.a1B2c3", "half a scoreboard");
  vordak::testing::write_text(html / ".vrd_dashboard.html.a1B2c3", "half a page");
  vordak::testing::write_text(json / ".notes.txt.a1B2c3", "someone else's");
  StringSink sink;
  run_marts(db.path, std::nullopt, "", sink);
  EXPECT_FALSE(std::filesystem::exists(json / ".sample_scoreboard.json.a1B2c3"));
  EXPECT_FALSE(std::filesystem::exists(html / ".vrd_dashboard.html.a1B2c3"));
  EXPECT_TRUE(std::filesystem::exists(json / ".notes.txt.a1B2c3"));
  EXPECT_FALSE(std::filesystem::exists(json / ".vrd_outputs.publish"));
}

TEST(RunMarts, DuplicatedFirmsCountOnceAndBadRisksAreReported) {
  MartRunDb db;
  StringSink clean_sink;
  const auto [clean, clean_trending] = run_marts(db.path, std::nullopt, "", clean_sink);
  db.run("INSERT INTO dim_entity VALUES (1, 'KOBI', 20, 2), (1, 'KOBI', 10, 1), (3, 'KUR-TIC', 10, 1);"
         "INSERT INTO map_identity VALUES (2, 'Ege İkinci');"
         "INSERT INTO ref_sube_bolge VALUES (20, 'Çankaya 2', 2, 'Ankara');");
  StringSink sink;
  const auto [scoreboard, trending] = run_marts(db.path, std::nullopt, "", sink);
  const std::vector<std::string> lines = sink.lines();
  EXPECT_TRUE(has_line(lines, "    [WARN] dim_entity holds 2 firms more than once (1, 3); each keeps its first row")) << sink.text();
  EXPECT_TRUE(has_line(lines, "    [WARN] map_identity holds 1 firms more than once (2); each keeps its first row")) << sink.text();
  EXPECT_EQ(scoreboard.rows.num_rows(), clean.rows.num_rows());
  EXPECT_EQ(scoreboard.meta["n_muta"], 4);
  const ordered_json page = parse_json(read_text(db.dir / "outputs" / "json" / "sample_scoreboard.json"));
  std::int64_t total = 0;
  for (const ordered_json& row : page["rows"]) total += row["son_risk"].get<std::int64_t>();
  EXPECT_EQ(total, 60000000 + 300 + 50 + 10);

  db.run("INSERT INTO fact_periodic VALUES (3, '2024-04', '880', 'nan'::DOUBLE, 0), (4, '2024-05', '100', 'inf'::DOUBLE, 0),"
         " (1, '2024-04', '300', 1e300, 0)");
  StringSink bad_sink;
  run_marts(db.path, std::nullopt, "", bad_sink);
  EXPECT_TRUE(has_line(bad_sink.lines(), "    [WARN] 3 firms have a kombine_risk that is not a number, infinite or out "
                                         "of range; those values are cleaned"))
      << bad_sink.text();
  EXPECT_FALSE(has_line(clean_sink.lines(), "    [WARN] 3 firms have a kombine_risk that is not a number, infinite or out "
                                            "of range; those values are cleaned"));
}

// A period that is not a year and month would sort as the newest and empty every list:
// its rows are left out with a warning, and the run is the one without them.
TEST(RunMarts, APeriodThatIsNotAYearAndMonthIsLeftOutWithAWarning) {
  MartRunDb db;
  StringSink clean_sink;
  const auto [clean, clean_trending] = run_marts(db.path, std::nullopt, "", clean_sink);
  db.run("INSERT INTO fact_periodic VALUES (1, '9999-99', '500', 10, 0), (9, '2024-13', '100', 5, 0), (2, NULL, '1', 1, 0)");
  StringSink sink;
  const auto [scoreboard, trending] = run_marts(db.path, std::nullopt, "", sink);
  EXPECT_TRUE(has_line(sink.lines(), "    [WARN] fact_periodic holds periods that do not read as a year and month "
                                     "(2024-13, 9999-99, None); their rows are left out"))
      << sink.text();
  EXPECT_EQ(scoreboard.meta["son_donem"], "2024-06");
  EXPECT_EQ(scoreboard.meta, clean.meta);
  EXPECT_EQ(scoreboard.rows.num_rows(), clean.rows.num_rows()) << "a firm of no readable period is no row";
  EXPECT_EQ(trending.dump(), clean_trending.dump());
}

// Every risk fits 64 bits, but their sums need not: those are warned about and never
// written as a wrapped number.
TEST(RunMarts, RiskSumsPastSixtyFourBitsAreWarnedAboutAndShownAsTooLarge) {
  MartRunDb db;
  db.run("UPDATE fact_periodic SET kombine_risk = 6e18, vrd_skor = '900' WHERE donem = '2024-06' AND entity_id IN (1, 2);"
         "INSERT INTO fact_periodic VALUES (4, '2024-05', '100', -9e18, 0);"
         "UPDATE fact_periodic SET kombine_risk = 9e18 WHERE donem = '2024-06' AND entity_id = 4");
  StringSink sink;
  run_marts(db.path, std::nullopt, "", sink);
  EXPECT_TRUE(has_line(sink.lines(), "    [WARN] the risks of period 2024-06 add up to more than a 64-bit integer "
                                     "holds; risk totals that do not fit are written as null and shown on the pages "
                                     "as too large"))
      << sink.text();
  const fs::path outputs = db.dir / "outputs";
  const ordered_json scoreboard = parse_json(read_text(outputs / "json" / "sample_scoreboard.json"));
  for (const ordered_json& period : scoreboard["band_snapshot"]["ALL"]) {
    if (period["donem"] != "2024-06") continue;
    EXPECT_EQ(period["bands"]["825-1000"].dump(), R"({"risk_tl":null,"count":2})");
    EXPECT_EQ(period["bands"]["0-325"].dump(), R"({"risk_tl":9000000000000000000,"count":1})");
  }
  for (const ordered_json& pair : scoreboard["flow_matrix"]["ALL"]) {
    for (const ordered_json& flow : pair["flows"]) {
      EXPECT_TRUE(flow["risk_tl"].is_null() || flow["risk_tl"].get<std::int64_t>() >= 0) << flow.dump();
    }
  }
  for (const ordered_json& row : scoreboard["rows"]) {
    if (row["muta"] != 4) continue;
    EXPECT_TRUE(row["df2024-05"].is_null()) << "18e18 does not fit: " << row.dump();
  }
  EXPECT_NE(read_text(outputs / "html" / "vrd_dashboard.html")
                .find("<span class=\"label\">Toplam risk</span><span class=\"value\">çok büyük (&gt; "
                      "9.223.372.036.854.775.807 TL)</span>"),
            std::string::npos);
}

TEST(MartPaths, DerivesOutputsFromTheDatabaseLocation) {
  const MartPaths paths = mart_paths("/d/a/b.db", std::nullopt, "");
  EXPECT_EQ(paths.output_dir, "/d/outputs/json");
  EXPECT_EQ(paths.html_dir, "/d/outputs/html");
  EXPECT_EQ(paths.admin_html, "/d/outputs/html/vrd_dashboard_admin.html");
  EXPECT_EQ(mart_paths("b.db", std::string("out/"), "_t").manager_html, "html/vrd_dashboard_yonetici_t.html");
}

TEST(ManagerFilter, KeepsCorporateTopKobiAndLargeRisks) {
  // Rows after 10,000 KOBI firms of 70,000,000, with the verdict each must get.
  const struct {
    const char* name;
    std::vector<std::pair<ordered_json, bool>> rows;
  } cases[] = {
      {"tie at the cut", {{{{"segment", "KOBI"}, {"son_risk", 10}}, true}, {{{"segment", "KOBI"}, {"son_risk", 10}}, false}}},
      {"beyond the cut",
       {{{{"segment", "KOBI"}, {"son_risk", 70000000}}, true},  // ties the top: earlier rows win, judged by risk
        {{{"segment", "KOBI"}, {"son_risk", 50000001}}, true},
        {{{"segment", "KOBI"}, {"son_risk", 50000000}}, false},
        {{{"segment", "KOBI"}}, false},
        {{{"segment", "KUR-TIC"}, {"son_risk", 0}}, true},
        {{{"segment", "MIKRO"}, {"son_risk", 50000001}}, true},
        {{{"segment", "MIKRO"}, {"son_risk", 50000000}}, false},
        {{{"segment", "ESKK"}, {"son_risk", nullptr}}, false},
        {{{"son_risk", 50000001}}, true},
        {{{"son_risk", 50000000}}, false}}},
  };
  for (const auto& c : cases) {
    ordered_json records = ordered_json::array();
    const std::size_t top = c.rows.size() == 2 ? 9999 : 10000;
    for (std::size_t i = 0; i < top; ++i) records.push_back({{"muta", i}, {"segment", "KOBI"}, {"son_risk", 70000000}});
    for (std::size_t k = 0; k < c.rows.size(); ++k) {
      ordered_json record = c.rows[k].first;
      record["muta"] = 100000 + k;
      records.push_back(record);
    }
    const Scoreboard scoreboard = testing::scoreboard_of({"A"}, records);
    const RowFilter filter = yonetici_filter(kobi_top(scoreboard));
    EXPECT_TRUE(filter(scoreboard.rows, 0)) << c.name;
    for (std::size_t k = 0; k < c.rows.size(); ++k) {
      EXPECT_EQ(filter(scoreboard.rows, top + k), c.rows[k].second) << c.name << ", row " << k;
    }
  }
}

}  // namespace
}  // namespace vordak::pipeline
