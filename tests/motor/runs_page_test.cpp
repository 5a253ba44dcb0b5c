#include "motor/runs_page.h"

#include <gtest/gtest.h>

#include "motor_test_support.h"

namespace vordak::motor {
namespace {

const std::string kHostile = "</td><img src=x onerror=alert(1)> \"Tırnak\" & 'A.Ş.'";

SeasonRecord season(const std::string& name, std::vector<StepOutcome> steps, bool manifest = true) {
  SeasonRecord record;
  record.season = name;
  record.mode = name.substr(18, name.rfind('_') - 18);
  record.baslangic = name.substr(2, 4) + "-" + name.substr(6, 2) + "-" + name.substr(8, 2) + "T" + name.substr(11, 2) + ":" +
                     name.substr(13, 2) + ":" + name.substr(15, 2);
  record.has_manifest = manifest;
  record.adimlar = std::move(steps);
  return record;
}

TEST(RunsPage, ColoursEachOutcomeAndEscapesEveryText) {
  const std::vector<SeasonRecord> seasons = {
      season("S_20250302_020000_prod_1.0.0", {{"transform", StepStatus::kFailed, "", "ValueError: " + kHostile},
                                              {"marts", StepStatus::kSkipped, "", "uyumlu (abcd1234)"},
                                              {"eski_adim", StepStatus::kOk, "3s", ""},
                                              {"ingest_kik", StepStatus::kOk, "2s", "", {"uyarı: kik: " + kHostile}}}),
      season("S_20250301_020000_prod_1.0.0", {{"transform", StepStatus::kOk, "1.5dk", ""},
                                              {"diag_risk", StepStatus::kNotebookMissing, "", "bulunamadı"}},
             false),
  };
  const std::string html = render_runs_page(seasons, seasons.size(), "/srv/vordak<x>");
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("<x>"), std::string::npos);
  EXPECT_NE(html.find("/srv/vordak&lt;x&gt;"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"fail\" title=\"HATA\nValueError: &lt;/td&gt;&lt;img src=x onerror=alert(1)&gt; "
                      "&quot;Tırnak&quot; &amp; &#39;A.Ş.&#39;\">HATA</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<td class=\"skip\" title=\"ATLANDI\nuyumlu (abcd1234)\">ATLANDI</td>"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"ok\" title=\"OK · 1.5dk\">OK</td>"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"missing\" title=\"NB YOK\nbulunamadı\">NB YOK</td>"), std::string::npos);
  // Every step of the table has a row; a key no longer in it is added after them.
  EXPECT_NE(html.find("<tr><th class=\"step\">ingest_ddl</th><td class=\"none\">·</td><td class=\"none\">·</td></tr>"),
            std::string::npos);
  EXPECT_GT(html.find("<th class=\"step\">eski_adim</th>"), html.find("<th class=\"step\">diag_risk</th>"));
  EXPECT_NE(html.find("class=\"incomplete\">01.03 02:00<br>prod</th>"), std::string::npos);
  // A step with data-check notes is marked, and its notes are listed in full below the table.
  EXPECT_NE(html.find("<td class=\"ok noted\" title=\"OK · 2s\nuyarı: kik: &lt;/td&gt;"), std::string::npos) << html;
  EXPECT_NE(html.find("<tr><td>S_20250302_020000_prod_1.0.0</td><td>ingest_kik</td><td>uyarı: kik: &lt;/td&gt;&lt;img"),
            std::string::npos);
  EXPECT_EQ(render_runs_page({seasons[1]}, 1, "/srv").find("Veri kalitesi"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos) << "nothing is fetched";
}

TEST(RunsPage, IsWrittenFromTheNewestSixtySeasonsOfTheWorkingDirectory) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const fs::path page = write_runs_page(dir.path(), clock);
  EXPECT_EQ(page, dir / "outputs" / "html" / "vrd_runs.html");
  EXPECT_NE(testing::read_text(page).find("0 sezon"), std::string::npos);

  // 62 runs, a minute apart: the oldest two are left out.
  for (int run = 0; run < 62; ++run) {
    const auto two_digits = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
    const std::string name = "S_20250101_" + two_digits(2 + run / 60) + two_digits(run % 60) + "00_prod_1.0.0";
    fs::create_directories(dir / "seasons" / name / "meta");
  }
  const std::string html = testing::read_text(write_runs_page(dir.path(), clock));
  EXPECT_NE(html.find("60 sezon (en yeni 60 / 62)"), std::string::npos);
  EXPECT_NE(html.find("01.01 03:01"), std::string::npos);
  EXPECT_NE(html.find("01.01 02:02"), std::string::npos);
  EXPECT_EQ(html.find("01-01 02:01"), std::string::npos);
}

}  // namespace
}  // namespace vordak::motor
