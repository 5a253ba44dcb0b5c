#include "motor/history.h"

#include <gtest/gtest.h>

#include "motor_test_support.h"

namespace vordak::motor {
namespace {

class HistoryTest : public testing::EngineTest {
 protected:
  // A run of transform and marts in `mode`.
  void run(const std::string& mode = "prod") {
    MotorArgs args = testing::quiet_args(dir);
    args.mode = mode;
    RunArgs core;
    core.skip_ingest = core.skip_ml = core.skip_backtest = true;
    make(args)->run_all(core);
  }
};

TEST_F(HistoryTest, ListsSeasonsNewestFirstWithTheirCountsAndOutcomes) {
  write_registry_notebooks();
  run();
  executor->failing = {{"nb_02_transform", "ValueError: bozuk veri"}};
  write_notebook(dir / "nb_02_transform.ipynb", {"params:x = 'changed'"});
  run("test");
  // A single step call leaves a season without a manifest.
  executor->failing.clear();
  make()->adim_isle("ml_train", std::nullopt, nullptr, std::nullopt);
  write_text(dir / "seasons" / "notes.txt", "not a season");

  const std::vector<SeasonRecord> seasons = read_history(dir, env, out);
  ASSERT_EQ(seasons.size(), 3u);
  const SeasonRecord& single = seasons[0];
  EXPECT_FALSE(single.has_manifest);
  EXPECT_EQ(single.sure_dk, std::nullopt);
  EXPECT_EQ(single.adimlar.size(), 1u);
  EXPECT_EQ(std::tuple(single.ok, single.atlandi, single.hata, single.nb_yok), std::tuple(1, 0, 0, 0));

  const SeasonRecord& failed = seasons[1];
  EXPECT_EQ(failed.mode, "test");
  EXPECT_TRUE(failed.season.starts_with("T_"));
  EXPECT_TRUE(failed.has_manifest);
  EXPECT_EQ(failed.failed_steps(), std::vector<std::string>{"transform"});
  // marts, and the two diagnostic steps it needs, which never ran in mode test
  EXPECT_EQ(std::tuple(failed.ok, failed.atlandi, failed.hata), std::tuple(3, 0, 1));
  EXPECT_EQ(failed.outcome("transform")->sebep, "ValueError: bozuk veri");
  EXPECT_EQ(failed.outcome("marts")->durum, StepStatus::kOk);
  EXPECT_EQ(failed.outcome("marts")->sure, "0s");

  const SeasonRecord& first = seasons[2];
  EXPECT_EQ(first.mode, "prod");
  EXPECT_EQ(first.baslangic, first.season.substr(2, 4) + "-" + first.season.substr(6, 2) + "-" + first.season.substr(8, 2) +
                                 "T" + first.season.substr(11, 2) + ":" + first.season.substr(13, 2) + ":" +
                                 first.season.substr(15, 2));
  EXPECT_EQ(first.sure_dk, 0.0);
  EXPECT_EQ(first.failed_steps(), std::vector<std::string>{});
  EXPECT_GT(seasons[0].baslangic, seasons[1].baslangic);
}

TEST_F(HistoryTest, ReadsEachStepsDataCheckNotesFromTheManifest) {
  const fs::path meta = dir / "seasons" / "S_20250301_020000_prod_1.0.0" / "meta";
  write_text(meta / "manifest_20250301_020000.json", R"({"adimlar": {
    "ingest_kik": {"durum": "HATA", "hata": "x", "veri_kontrolu": "kik:eksik_donem"},
    "ingest_kredi": {"durum": "OK", "uyarilar": ["kredi: 3 satır", 7],
                     "kabul": [{"kontrol": "kredi:satir_degisimi", "kullanici": "ayse", "makine": "vrd1", "zaman": "2025-03-01T02:00:05"}, "x"]},
    "transform": {"durum": "OK"}}})");
  const std::vector<SeasonRecord> seasons = read_history(dir, env, out);
  ASSERT_EQ(seasons.size(), 1u);
  EXPECT_EQ(seasons[0].outcome("ingest_kik")->veri_notlari, std::vector<std::string>{"engel: kik:eksik_donem"});
  EXPECT_EQ(seasons[0].outcome("ingest_kredi")->veri_notlari,
            (std::vector<std::string>{"uyarı: kredi: 3 satır", "kabul: kredi:satir_degisimi — ayse@vrd1, 2025-03-01T02:00:05"}));
  EXPECT_TRUE(seasons[0].outcome("transform")->veri_notlari.empty());
}

TEST_F(HistoryTest, PassesOverUnreadableRecords) {
  write_registry_notebooks();
  run();
  const fs::path season = read_history(dir, env, out).front().dir;
  for (const DirEntry& entry : env.list_directory(season / "meta")) write_text(entry.path, "{broken");
  const std::vector<SeasonRecord> seasons = read_history(dir, env, out);
  ASSERT_EQ(seasons.size(), 1u);
  EXPECT_FALSE(seasons[0].has_manifest);
  EXPECT_TRUE(seasons[0].adimlar.empty());
}

TEST_F(HistoryTest, PassesOverAnUnreadableSeasonWithAWarning) {
  write_registry_notebooks();
  run();
  run("test");
  const fs::path unreadable = read_history(dir, env, out).front().dir;
  out.take();
  testing::UnlistableDirEnv unlistable(env, unreadable / "meta");
  const std::vector<SeasonRecord> seasons = read_history(dir, unlistable, out);
  ASSERT_EQ(seasons.size(), 1u);
  EXPECT_EQ(seasons[0].mode, "prod");
  EXPECT_EQ(out.text(), "  [WARN] Sezon dizini okunamadı, atlandı: " + unreadable.string() + " (" +
                            testing::UnlistableDirEnv::message(unreadable / "meta") + ")\n");
}

}  // namespace
}  // namespace vordak::motor
