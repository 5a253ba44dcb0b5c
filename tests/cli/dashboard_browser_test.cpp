// The dashboard editions of a mart run (with one region's edition), opened in headless
// Chromium from the file system: no console error, a filled firm table whose search and
// segment filter work, controls that all work, a hostile firm title shown as plain text,
// CSV downloads that hold the table and the lists (formula-like texts neutralised), print
// media with the summary and the lists but not the firm table, a "#firma=MUTA" link that
// opens the firm's panel with every score's history, and each edition's own sections
// (the admin's model measures). The firm data is cut into small files, so that a firm of
// the last one is searched for, opened by its link and printed alone, one list is paged to
// its end, and a region filter is checked against the JSON outputs. The pages are driven
// by tests/browser/dashboard_check.js (DevTools protocol over a pipe, Node only); the
// screenshots stay in <build>/dashboard-screenshots for a person to look at.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "core/child_process.h"
#include "core/env.h"
#include "core/sink.h"
#include "motor/runs_page.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/html_render.h"
#include "pipeline/cleaning.h"
#include "pipeline/marts.h"
#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"
#include "tests/pipeline/page_files.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const std::string kHostileTitle = "</script><img src=x onerror=alert(1)> \"Tırnak\" & 'Ortak' A.Ş.";
const std::string kFormulaTitle = "=HYPERLINK(\"http://ornek.invalid\";\"Tıkla\")";

// The first of `names` found as an executable on PATH or as an absolute path.
std::optional<fs::path> find_program(const std::vector<std::string>& names) {
  const char* path_env = std::getenv("PATH");
  std::vector<fs::path> dirs;
  std::stringstream path_list(path_env == nullptr ? "" : path_env);
  for (std::string dir; std::getline(path_list, dir, ':');) dirs.emplace_back(dir);
  for (const std::string& name : names) {
    if (fs::path(name).is_absolute() && fs::exists(name)) return fs::path(name);
    for (const fs::path& dir : dirs) {
      if (fs::exists(dir / name)) return dir / name;
    }
  }
  return std::nullopt;
}

std::string sql_text(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// A small portfolio with model outputs, two firms among the riskiest renamed to a title
// full of markup and to a spreadsheet formula, and its marts with an edition per region,
// in data files of 16 firms.
void build_dashboards(const fs::path& dir) {
  const std::string db = (dir / "db" / "vrd.duckdb").string();
  fs::create_directories(dir / "db");
  synth::generate_portfolio(db, {.firms = 300, .periods = 6, .seed = 11});
  synth::generate_model_outputs(db, 11);
  {
    pipeline::Connection con(db);
    for (const auto& [title, rank] : {std::pair{kHostileTitle, 4}, std::pair{kFormulaTitle, 3}}) {
      con.execute("UPDATE map_identity SET unvan = " + sql_text(title) + " WHERE entity_id = (SELECT entity_id FROM fact_periodic "
                  "WHERE donem = (SELECT max(donem) FROM fact_periodic) ORDER BY kombine_risk DESC NULLS LAST LIMIT 1 OFFSET " +
                  std::to_string(rank) + ")");
    }
  }
  StringSink console;
  pipeline::DashboardOptions options;
  options.per_region = true;
  options.firms_per_file = 16;
  pipeline::run_marts(db, (dir / "outputs" / "json").string(), "", console, {}, Env::system(), {}, options);
}

// The firm keys of a trending list, as text.
std::vector<std::string> trending_keys(const fs::path& json_dir, const std::string& flag) {
  static const std::map<std::string, std::string> kListOfFlag = {
      {"_hizli_yukselen", "fastest_rising"}, {"_rejim_degisimi", "regime_change"}, {"_potansiyel_yi", "persistent_high"},
      {"_erken_sinyal", "low_but_rising"},   {"_yakalanan", "caught_yi"},          {"_kacirilan", "missed_yi"}};
  const ordered_json trending = ordered_json::parse(read_text(json_dir / "sample_trending_lists.json"));
  std::vector<std::string> keys;
  for (const ordered_json& entry : trending[kListOfFlag.at(flag)]) keys.push_back(pipeline::text_form(entry["muta"]));
  return keys;
}

// The administrator edition's model validation, as tests/browser/dashboard_check.js reads
// it: for each model the AUC's interval, traffic lights, the event definition and its
// row in the inventory; small samples greyed out; the champion and its comparison with
// the challenger; the backtests' thresholds, pooled AUC and horizons; Turkish numbers and
// no raw table or column names; a calibration chart whose axis label clears its ticks.
void expect_model_validation(const ordered_json& validation) {
  ASSERT_TRUE(validation.is_object());
  std::size_t greyed = 0;
  for (const char* model : {"eus", "yis", "ml"}) {
    SCOPED_TRACE(model);
    const ordered_json& shown = validation["models"][model];
    EXPECT_GT(shown["intervals"].get<int>(), 0);
    EXPECT_GT(shown["lights"].get<int>(), 0);
    EXPECT_NE(shown["eventDefinition"].get<std::string>().find(
                  "Olay tanımı: bir firma t döneminde sayılır, t’de durumu biliniyor ve YI değilse ve t+1’de durumu biliniyorsa"),
              std::string::npos);
    EXPECT_NE(shown["eventDefinition"].get<std::string>().find("sonraki dönemi bilinmeyen: "), std::string::npos);
    EXPECT_TRUE(shown["inInventory"].get<bool>());
    greyed += shown["greyed"].get<std::size_t>();
  }
  EXPECT_GT(greyed, 0u);  // a 300-firm portfolio has periods of fewer than 20 events
  EXPECT_EQ(validation["champion"], "yi-xgb-20240105-020000-5e1f0c2a");
  EXPECT_NE(validation["comparison"].get<std::string>().find("DeLong eşleştirilmiş testi, iki yönlü: p = "), std::string::npos);
  EXPECT_EQ(validation["thresholds"],
            ordered_json({"Alarm eşiği: skor ≥ 700", "Alarm eşiği: olasılık ≥ 0,50", "Alarm eşiği: olasılık ≥ 0,50"}));
  EXPECT_EQ(validation["pooled"], 3);
  EXPECT_GT(validation["horizons"].get<int>(), 4);
  EXPECT_EQ(validation["ungrouped"], ordered_json::array());
  EXPECT_EQ(validation["pointDecimals"], ordered_json::array());
  EXPECT_EQ(validation["rawNames"], ordered_json::array());
  EXPECT_EQ(validation["calibrationLabelOverlaps"], false);
  EXPECT_TRUE(fs::exists(validation["shot"].get<std::string>()));
}

TEST(DashboardBrowser, EveryEditionLoadsCleanlyAndItsFirmTableSearches) {
  const std::optional<fs::path> chromium = find_program({"chromium", "chromium-browser", "/usr/bin/chromium"});
  const std::optional<fs::path> node = find_program({"node", "nodejs"});
  if (!chromium || !node) {
    GTEST_SKIP() << "Chromium or Node not found (scripts/setup.sh installs Debian's chromium and nodejs): "
                    "the dashboards were not checked in a browser";
  }
  TempDir dir;
  build_dashboards(dir.path());
  const fs::path html = dir / "outputs" / "html";
  const fs::path json = dir / "outputs" / "json";
  const fs::path shots = fs::path(VORDAK_BINARY).parent_path() / "dashboard-screenshots";

  ChildOptions options;
  options.timeout = std::chrono::seconds(300);
  // A database without periods gives a scoreboard without rows; its page still works.
  pipeline::testing::write_page(pipeline::Scoreboard{}, html / "bos.html", json / "sube_bolge_ref.csv");
  const ChildResult result =
      run_child({node->string(), std::string(VORDAK_SOURCE_DIR) + "/tests/browser/dashboard_check.js", "--json", json.string(),
                 chromium->string(), shots.string(), (html / "vrd_dashboard.html").string(),
                 (html / "vrd_dashboard_yonetici.html").string(), (html / "vrd_dashboard_admin.html").string(),
                 (html / "vrd_dashboard_bolge_3.html").string(), (html / "bos.html").string()},
                options);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  ordered_json reports = ordered_json::parse(result.out);
  ASSERT_EQ(reports.size(), 5u);
  const ordered_json empty = reports[4];
  reports.erase(4);
  EXPECT_EQ(empty["problems"], ordered_json::array());
  EXPECT_EQ(empty["rowsBefore"], 0);
  EXPECT_NE(empty["text"].get<std::string>().find("Bu görünümde bant verisi yok."), std::string::npos);
  EXPECT_FALSE(empty.contains("link"));  // no firm to open

  const std::vector<std::string> editions = {"Portföy", "Yönetici", "Yönetici · Admin", "Yönetici · Ankara Bölge"};
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const ordered_json& page = reports[i];
    SCOPED_TRACE(page["page"].get<std::string>());
    EXPECT_EQ(page["problems"], ordered_json::array());
    EXPECT_EQ(page["title"], "VRD Erken Uyarı Panosu · " + editions[i]);
    EXPECT_EQ(page["images"], 0);  // the hostile title's <img> never became an element

    EXPECT_GT(page["rowsBefore"].get<int>(), 10);
    EXPECT_NE(page["searchTerm"], "");
    EXPECT_GT(page["rowsAfterSearch"].get<int>(), 0);
    EXPECT_TRUE(page["allRowsMatch"].get<bool>());
    EXPECT_EQ(page["rowsNoMatch"], 0);
    EXPECT_EQ(page["rowsCleared"], page["rowsBefore"]);
    EXPECT_GT(page["segmentFilter"]["rows"].get<int>(), 0);
    EXPECT_TRUE(page["segmentFilter"]["allMatch"].get<bool>());
    EXPECT_GE(page["titleWidth"].get<int>(), 240);  // titles keep their room beside the scores at 1,400 px

    // Every tab, select, column head and pager was used; a watch-list row opens its
    // firm's panel and puts the firm's link in the address; Escape closes it.
    const ordered_json& exercise = page["exercise"];
    EXPECT_GT(exercise["presses"].get<int>(), 20);
    EXPECT_TRUE(exercise["panelOpen"].get<bool>());
    EXPECT_EQ(exercise["address"], "#firma=" + exercise["picked"].get<std::string>());
    EXPECT_TRUE(exercise["panelClosed"].get<bool>());
    EXPECT_EQ(exercise["addressAfterClose"], "");

    // The filtered table and a watch list download whole as CSV: a byte-order mark, ";"
    // between the columns, one record per firm; no cell a spreadsheet would run.
    const ordered_json& downloads = page["downloads"];
    const ordered_json& table = downloads["table"];
    EXPECT_TRUE(table["bom"].get<bool>());
    EXPECT_GT(downloads["tableCount"].get<int>(), 0);
    EXPECT_EQ(table["rows"], downloads["tableCount"]);
    EXPECT_EQ(table["widths"], ordered_json::array({table["header"].size()}));
    EXPECT_EQ(downloads["allFirms"]["rows"], page["firms"]);
    for (const char* csv : {"table", "allFirms", "list"}) EXPECT_EQ(downloads[csv]["risky"], 0) << csv;
    if (i < 3) {
      const ordered_json& neutralised = downloads["allFirms"]["neutralised"];
      EXPECT_NE(std::find(neutralised.begin(), neutralised.end(), "'" + kFormulaTitle), neutralised.end());
    }
    EXPECT_EQ(downloads["list"]["rows"], downloads["listCount"]);
    EXPECT_EQ(downloads["list"]["header"], ordered_json({"Muta", "Ünvan", "Segment", "Neden", "Son risk", "Skor"}));

    // Print gives the summary and the lists as they stand, not the firm table, with
    // nothing cut off; a few pages.
    const ordered_json& print = page["print"];
    EXPECT_TRUE(print["printMedia"].get<bool>());
    ASSERT_EQ(print["lists"].size(), 6u);
    for (const ordered_json& list : print["lists"]) {
      EXPECT_EQ(list["shown"].get<int>() > 0, list["count"].get<int>() > 0) << list["flag"];
      EXPECT_LE(list["shown"].get<int>(), 10) << list["flag"];
    }
    EXPECT_FALSE(print["tableShown"].get<bool>());
    EXPECT_EQ(print["pagers"], 0);
    EXPECT_EQ(print["scrollBoxes"], ordered_json::array());
    EXPECT_EQ(print["clipped"], ordered_json::array());
    EXPECT_LE(print["pdf"]["pages"].get<int>(), i == 2 ? 40 : 12);

    // A pasted "#firma=MUTA" link opens that firm's panel: every score's history (the
    // run kept EUS, YIS and ML scores) and the lists of every period.
    const ordered_json& link = page["link"];
    EXPECT_TRUE(link["open"].get<bool>());
    EXPECT_EQ(link["scores"].size(), link["periods"].get<std::size_t>());
    EXPECT_EQ(link["periods"], 6);
    for (const ordered_json& score : link["scores"]) EXPECT_NE(score, "–");
    EXPECT_EQ(link["heads"], ordered_json({"Dönem", "VRD", "Bant", "EUS", "YIS", "ML", "Risk (TL)", "Listeler"}));
    EXPECT_EQ(link["charts"], 3);  // scores, probabilities, risks
    EXPECT_NE(link["lists"].back(), "");  // picked from a watch list: on one now
    EXPECT_EQ(link["address"], page["page"].get<std::string>() + "#firma=" + link["muta"].get<std::string>());
    EXPECT_NE(link["text"].get<std::string>().find("YI olasılığı ve modelin etkenleri"), std::string::npos);
    EXPECT_TRUE(fs::exists(link["shot"].get<std::string>()));

    // A firm of the last data file: found by its key, opened by its link with its whole
    // history, printed alone on a page or two.
    const ordered_json& scale = page["scale"];
    EXPECT_GE(scale["firmFiles"].get<int>(), i == 3 ? 1 : 3);
    EXPECT_TRUE(scale["search"]["found"].get<bool>());
    EXPECT_EQ(scale["search"]["rows"], 1);
    EXPECT_EQ(scale["search"]["address"], "#firma=" + scale["muta"].get<std::string>());
    EXPECT_TRUE(scale["link"]["open"].get<bool>());
    EXPECT_EQ(scale["link"]["scores"].size(), 6u);
    EXPECT_EQ(scale["printFirm"]["asked"], 1);
    EXPECT_GE(scale["printFirm"]["pages"].get<int>(), 1);
    EXPECT_LE(scale["printFirm"]["pages"].get<int>(), 3);
    // One list paged to its end: every firm once, the count the card gives; the
    // portfolio's lists are the trending lists in full.
    const ordered_json& list = scale["list"];
    EXPECT_EQ(list["keys"].size(), list["count"].get<std::size_t>());
    EXPECT_EQ(list["unique"], list["count"]);
    EXPECT_EQ(list["pages"], (list["count"].get<int>() + 9) / 10);
    if (i == 0) {
      EXPECT_EQ(list["keys"], ordered_json(trending_keys(json, list["flag"])));
    }

    // A region filter applies to the figures, the table and the lists, stands in the
    // address, and agrees with the JSON outputs.
    const ordered_json& region = page["region"];
    EXPECT_EQ(region["address"], "#bolge=" + region["code"].get<std::string>());
    EXPECT_EQ(region["figure"]["page"], std::to_string(region["figure"]["json"].get<int>()));
    EXPECT_EQ(region["tableCount"], region["figure"]["json"]);
    EXPECT_EQ(region["tableRegions"], ordered_json({region["name"]}));
    EXPECT_TRUE(region["list"]["prefixMatches"].get<bool>());
    EXPECT_FALSE(region["list"]["jsonCapped"].get<bool>());
    EXPECT_EQ(region["list"]["count"], region["list"]["jsonKeys"]);

    const std::string text = page["text"];
    for (const char* shown : {"Veri dönemi:", "Oluşturulma:", "Veritabanı: vrd.duckdb", "Yakın İzleme", "[325, 500)",
                              "Tahmin listesi", "Yönetici sürümü", "Filtre yok"}) {
      EXPECT_NE(text.find(shown), std::string::npos) << shown;
    }

    const ordered_json& sections = page["sections"];
    EXPECT_GT(sections["bantlar"].get<int>(), 5);  // bars of the band chart
    EXPECT_GT(sections["akis"].get<int>(), 5);     // rows of the heat map
    EXPECT_GT(sections["listeler"].get<int>(), 6);
    EXPECT_EQ(sections.contains("backtest"), i == 2);
    EXPECT_EQ(sections.contains("tahminler"), i == 2);
    EXPECT_EQ(sections.contains("modeller"), i == 2);
    EXPECT_TRUE(sections.contains("tanimlar"));
    if (i == 2) {
      EXPECT_GT(sections["backtest"].get<int>(), 3);
      EXPECT_GT(sections["backtest-firmalar"].get<int>(), 1);
      EXPECT_GT(sections["tahminler"].get<int>(), 1);
      // The model measures: AUC and Gini per period, PSI, migration rates and a filled
      // calibration table, for every model.
      const ordered_json& models = link["models"];
      EXPECT_EQ(models["missing"], ordered_json::array());
      EXPECT_GE(models["auc"].get<int>(), 6);
      EXPECT_EQ(models["gini"], models["auc"]);
      EXPECT_GE(models["psi"].get<int>(), 3 * 3);
      EXPECT_GT(models["migration"].get<int>(), 5);
      EXPECT_EQ(models["calibration"], 10);
      EXPECT_TRUE(fs::exists(page["modelShot"].get<std::string>()));
      expect_model_validation(page["validation"]);
    } else {
      EXPECT_TRUE(link["models"].is_null());
      EXPECT_TRUE(page["validation"].is_null());
    }
    EXPECT_TRUE(fs::exists(page["screenshot"].get<std::string>()));
  }
  // The riskiest firms are in the large editions; the hostile one shows its title as text.
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NE(reports[i]["text"].get<std::string>().find(kHostileTitle), std::string::npos) << reports[i]["page"];
  }
}

TEST(RunsPageBrowser, LoadsCleanlyWithOutcomeColoursAndPlainTextOnHover) {
  const std::optional<fs::path> chromium = find_program({"chromium", "chromium-browser", "/usr/bin/chromium"});
  const std::optional<fs::path> node = find_program({"node", "nodejs"});
  if (!chromium || !node) GTEST_SKIP() << "Chromium or Node not found: the runs page was not checked in a browser";
  TempDir dir;
  motor::SeasonRecord failed;
  failed.season = "S_20250302_020000_prod_1.0.0";
  failed.mode = "prod";
  failed.baslangic = "2025-03-02T02:00:00";
  failed.has_manifest = true;
  failed.hata = 1;
  failed.adimlar = {{"transform", motor::StepStatus::kFailed, "", "ValueError: " + kHostileTitle},
                    {"marts", motor::StepStatus::kSkipped, "", "uyumlu (abcd1234)"}};
  motor::SeasonRecord first = failed;
  first.season = "S_20250301_020000_prod_1.0.0";
  first.baslangic = "2025-03-01T02:00:00";
  first.adimlar = {{"transform", motor::StepStatus::kOk, "1.5dk", ""}, {"marts", motor::StepStatus::kOk, "3s", ""}};
  const fs::path page = dir / "vrd_runs.html";
  write_text(page, motor::render_runs_page({failed, first}, 2, dir.path().string()));

  const fs::path shots = fs::path(VORDAK_BINARY).parent_path() / "dashboard-screenshots";
  ChildOptions options;
  options.timeout = std::chrono::seconds(60);
  const ChildResult result = run_child({node->string(), std::string(VORDAK_SOURCE_DIR) + "/tests/browser/dashboard_check.js",
                                        chromium->string(), shots.string(), page.string()},
                                       options);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const ordered_json report = ordered_json::parse(result.out).at(0);
  EXPECT_EQ(report["problems"], ordered_json::array());
  EXPECT_EQ(report["title"], "VRD Çalıştırmalar");
  EXPECT_EQ(report["images"], 0);
  EXPECT_EQ(report["sections"]["runs"], 27);  // three header rows (start, counts, state) and one row per step
  std::map<std::string, std::pair<std::string, std::string>> cells;  // hover text -> shown text, colour
  for (const ordered_json& cell : report["titled"]) {
    cells[cell["title"].get<std::string>()] = {cell["text"].get<std::string>(), cell["background"].get<std::string>()};
  }
  const auto hostile = cells.find("HATA\nValueError: " + kHostileTitle);
  ASSERT_NE(hostile, cells.end()) << "the failure reads as plain text on hover";
  EXPECT_EQ(hostile->second.first, "HATA");
  const std::string ok_colour = cells.at("OK · 1.5dk").second;
  const std::string skip_colour = cells.at("ATLANDI\nuyumlu (abcd1234)").second;
  EXPECT_NE(ok_colour, skip_colour);
  EXPECT_NE(ok_colour, hostile->second.second);
  EXPECT_NE(skip_colour, hostile->second.second);
  EXPECT_NE(ok_colour, "rgba(0, 0, 0, 0)");
  EXPECT_TRUE(fs::exists(report["screenshot"].get<std::string>()));
}

}  // namespace
}  // namespace vordak::testing
