#include "motor/run_report.h"

#include <gtest/gtest.h>

#include "core/clock.h"
#include "motor/history.h"
#include "motor/layout.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::write_text;

// A season on the fake clock and its report, the lines kept in `out`.
class RunReportTest : public ::testing::Test {
 protected:
  explicit RunReportTest(MotorArgs (*args_for)(const fs::path&) = &testing::quiet_args)
      : season(args_for(dir.path()), clock, out), report(season, clock, out) {}
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  StringSink out;
  Season season;
  RunReport report;
};

TEST_F(RunReportTest, SummaryTableAlignsByCharactersAndCounts) {
  report.completed("ingest_kik", "nb_01b_ingest_kik.ipynb", 42, "ingest — notebook kontrol eder");
  report.skipped("transform", "nb_02_transform.ipynb", "uyumlu (abc)");
  report.failed("marts", "nb_03_marts.ipynb", 90, "x");
  report.notebook_missing("diag_risk", "nb_07b_diag_risk.ipynb");
  report.skipped_before_start("a_very_long_step_key_over_22", "nb.ipynb", "--from x");
  clock.advance(std::chrono::seconds(96));
  report.ozet_yazdir();
  const std::string rule(80, '=');
  EXPECT_EQ(out.take(),
            "\n" + rule + "\n" + "  " + season.season_adi() + " | PROD\n" + rule + "\n" +
                "  Adım                   Notebook                                 Süre  Durum\n"
                "  ---------------------- -------------------------------------- ------  --------\n"
                "  ingest_kik             nb_01b_ingest_kik.ipynb                   42s  [OK]\n"
                "  transform              nb_02_transform.ipynb                       -  [SKIP]\n"
                "  marts                  nb_03_marts.ipynb                       1.5dk  [ERR]\n"
                "  diag_risk              nb_07b_diag_risk.ipynb                      -  [!!]\n"
                "  a_very_long_step_key_over_22 nb.ipynb                                    -  [SKIP]\n"
                "\n  Süre: 1.6dk | OK:1 Atlandı:2 Hata:1\n"
                "  Season: " +
                season.season_dir().string() + "\n");
  EXPECT_EQ(report.failed_steps(), (std::vector<std::string>{"marts", "diag_risk"}));
}

TEST_F(RunReportTest, OutcomesMakeTheirRowsAndManifestEntries) {
  const std::string long_error = "KeyError: " + std::string(100, 'x');
  report.skipped_before_start("ingest_kik", "a.ipynb", "--from transform");
  report.skipped("transform", "b.ipynb", "uyumlu (1234abcd)");
  report.completed("marts", "c.ipynb", 59.6, "cascade (transform)");
  report.failed("ml_train", "d.ipynb", 60, long_error);
  report.notebook_missing("diag_risk", "e.ipynb");
  const ordered_json expected = {
      {"ingest_kik", {{"durum", "ATLANDI"}, {"sebep", "--from transform"}}},
      {"transform", {{"notebook", "b.ipynb"}, {"durum", "ATLANDI"}, {"sebep", "uyumlu (1234abcd)"}}},
      {"marts", {{"notebook", "c.ipynb"}, {"durum", "OK"}, {"sure", "60s"}}},
      {"ml_train", {{"notebook", "d.ipynb"}, {"durum", "HATA"}, {"hata", long_error}}},
      {"diag_risk", {{"durum", "NB_YOK"}}},
  };
  EXPECT_EQ(report.manifest_adimlar(), expected);
  const auto& rows = report.ozet_satirlar();
  EXPECT_EQ(rows[2].sure, "60s");
  EXPECT_EQ(rows[3].sure, "1.0dk");
  EXPECT_EQ(rows[3].sebep, long_error.substr(0, 80));
  EXPECT_EQ(rows[4].sure, "-");
  // A later entry for the same step replaces the earlier; rows are kept.
  report.completed("ml_train", "d.ipynb", 1, "ZORLA (x)");
  EXPECT_EQ(report.manifest_adimlar()["ml_train"]["durum"], "OK");
  EXPECT_EQ(report.ozet_satirlar().size(), 6u);
  EXPECT_EQ(report.failed_steps(), (std::vector<std::string>{"ml_train", "diag_risk"}));
}

class ManifestTest : public RunReportTest {
 protected:
  static MotorArgs args(const fs::path& dir) {
    MotorArgs args = testing::quiet_args(dir);
    args.force_adimlar = std::vector<std::string>{"marts", "transform"};
    args.from_step = "transform";
    return args;
  }
  ManifestTest() : RunReportTest(&args) {}
};

TEST_F(ManifestTest, HoldsTheRunInOrderAsHistoryReadsItBack) {
  report.skipped_before_start("transform", "nb", "");
  report.notebook_missing("marts", "nb");
  report.completed("transform", "nb", 1, "");
  clock.advance(std::chrono::milliseconds(1500));
  const fs::path path = report.manifest_yaz();
  EXPECT_EQ(path.parent_path(), season.meta_dir());
  EXPECT_TRUE(is_manifest_file(path.filename().string()));
  EXPECT_EQ(out.take(), "\n  Manifest: " + path.string() + "\n");
  const ordered_json manifest = parse_json(testing::read_text(path));
  std::vector<std::string> members;
  for (const auto& [key, value] : manifest.items()) members.push_back(key);
  EXPECT_EQ(members, (std::vector<std::string>{"season", "pipeline_ts", "pkg_version", "tarih", "mode", "git", "parametreler",
                                               "sonuc", "adimlar"}));
  EXPECT_EQ(manifest["tarih"], iso_text(clock.now()));
  EXPECT_EQ(manifest["parametreler"]["from_step"], "transform");
  EXPECT_EQ(manifest["adimlar"], report.manifest_adimlar());

  RecordReader records(clock);
  const SeasonRecord read = read_season({season.season_dir(), *parse_season_name(season.season_adi()), std::nullopt}, clock, records);
  EXPECT_EQ(read.season, season.season_adi());
  EXPECT_EQ(std::vector<int>({read.ok, read.atlandi, read.hata, read.nb_yok}), std::vector<int>({1, 1, 0, 1}));
  ASSERT_EQ(read.adimlar.size(), 2u);
  EXPECT_EQ(read.adimlar[0].kod, "transform");
  EXPECT_EQ(read.adimlar[0].durum, StepStatus::kOk);
  EXPECT_EQ(read.adimlar[1].durum, StepStatus::kNotebookMissing);
}

TEST_F(RunReportTest, HousekeepingRemovesEarlierReportsAndKeepsThisSeasons) {
  for (const char* place : {"seasons/S_1/error_report.txt", "seasons/S_2/logs/error_report.txt",
                            "seasons/T_3/error_report.txt", "outputs/json/error_report.txt"}) {
    write_text(dir / place, "x");
  }
  write_text(dir / "seasons/S_1/other.txt", "kept");
  const fs::path current = season.season_dir() / "error_report.txt";
  write_text(current, "this run's failure");
  out.take();
  report.temizle_error_reports();
  EXPECT_EQ(out.take(), "  Temizlik: 4 eski error_report silindi\n");
  EXPECT_TRUE(fs::exists(dir / "seasons/S_1/other.txt"));
  EXPECT_EQ(testing::read_text(current), "this run's failure");
  report.temizle_error_reports();
  EXPECT_EQ(out.take(), "") << "the kept report is not counted";
}

TEST(SureText, ShowsSecondsThenMinutes) {
  EXPECT_EQ(sure_text(42.4), "42s");
  EXPECT_EQ(sure_text(59.6), "60s");
  EXPECT_EQ(sure_text(60.0), "1.0dk");
  EXPECT_EQ(sure_text(90.0), "1.5dk");
  EXPECT_EQ(sure_text(0.5), "0s");
}

}  // namespace
}  // namespace vordak::motor
