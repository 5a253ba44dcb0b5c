// The three dashboard editions of a mart run, opened in headless Chromium: no console
// error, a filled firm table whose search and segment filter work, controls that all
// work, a hostile firm title shown as plain text, and each edition's own sections. The pages are driven by
// tests/browser/dashboard_check.js (DevTools protocol over a pipe, Node only); the
// screenshots stay in <build>/dashboard-screenshots for a person to look at.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "core/child_process.h"
#include "core/sink.h"
#include "motor/runs_page.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/html_render.h"
#include "pipeline/marts.h"
#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const std::string kHostileTitle = "</script><img src=x onerror=alert(1)> \"Tırnak\" & 'Ortak' A.Ş.";

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

// A small portfolio with model outputs, one firm among the riskiest renamed to a title
// full of markup, and its marts.
void build_dashboards(const fs::path& dir) {
  const std::string db = (dir / "db" / "vrd.duckdb").string();
  fs::create_directories(dir / "db");
  synth::generate_portfolio(db, {.firms = 300, .periods = 6, .seed = 11});
  synth::generate_model_outputs(db, 11);
  {
    pipeline::Connection con(db);
    std::string quoted;
    for (char c : kHostileTitle) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    con.execute("UPDATE map_identity SET unvan = '" + quoted + "' WHERE entity_id = (SELECT entity_id FROM fact_periodic WHERE donem = (SELECT max(donem) FROM "
                "fact_periodic) ORDER BY kombine_risk DESC NULLS LAST LIMIT 1 OFFSET 4)");
  }
  StringSink console;
  pipeline::run_marts(db, (dir / "outputs" / "json").string(), "", console);
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
  const fs::path shots = fs::path(VORDAK_BINARY).parent_path() / "dashboard-screenshots";

  ChildOptions options;
  options.timeout = std::chrono::seconds(60);
  // A database without periods gives a scoreboard without rows; its page still works.
  pipeline::render_html(pipeline::Scoreboard{}, html / "bos.html", dir / "outputs" / "json" / "sube_bolge_ref.csv");
  const ChildResult result =
      run_child({node->string(), std::string(VORDAK_SOURCE_DIR) + "/tests/browser/dashboard_check.js", chromium->string(),
                 shots.string(), (html / "vrd_dashboard.html").string(), (html / "vrd_dashboard_yonetici.html").string(),
                 (html / "vrd_dashboard_admin.html").string(), (html / "bos.html").string()},
                options);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  ordered_json reports = ordered_json::parse(result.out);
  ASSERT_EQ(reports.size(), 4u);
  const ordered_json empty = reports[3];
  reports.erase(3);
  EXPECT_EQ(empty["problems"], ordered_json::array());
  EXPECT_EQ(empty["rowsBefore"], 0);
  EXPECT_NE(empty["text"].get<std::string>().find("Bu görünümde bant verisi yok."), std::string::npos);

  const std::vector<std::string> editions = {"Portföy", "Yönetici", "Yönetici · Admin"};
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

    // Every tab, select, column head and pager button was used; a watch-list row opens
    // its firm alone in the table.
    EXPECT_GT(page["exercise"]["presses"].get<int>(), 20);
    EXPECT_EQ(page["exercise"]["rowsAfterPick"], 1);

    const ordered_json& sections = page["sections"];
    EXPECT_GT(sections["bantlar"].get<int>(), 5);  // bars of the band chart
    EXPECT_GT(sections["akis"].get<int>(), 5);     // rows of the heat map
    EXPECT_GT(sections["listeler"].get<int>(), 6);
    EXPECT_EQ(sections.contains("backtest"), i == 2);
    EXPECT_EQ(sections.contains("tahminler"), i == 2);
    if (i == 2) {
      EXPECT_GT(sections["backtest"].get<int>(), 3);
      EXPECT_GT(sections["backtest-firmalar"].get<int>(), 1);
      EXPECT_GT(sections["tahminler"].get<int>(), 1);
    }
    EXPECT_TRUE(fs::exists(page["screenshot"].get<std::string>()));
  }
  // The riskiest firms are in every edition; the hostile one shows its title as text.
  for (const ordered_json& page : reports) {
    EXPECT_NE(page["text"].get<std::string>().find(kHostileTitle), std::string::npos) << page["page"];
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
  write_text(page, motor::render_runs_page({failed, first}, dir.path().string()));

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
  EXPECT_EQ(report["sections"]["runs"], 26);  // two header rows and one row per step
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
