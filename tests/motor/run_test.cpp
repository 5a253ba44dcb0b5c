#include <gtest/gtest.h>

#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::FakeExecutor;
using testing::TempDir;

std::string text_param(const NotebookParams& params, const std::string& name) {
  const ParamValue* value = params.find(name);
  return value ? std::get<std::string>(*value) : "<none>";
}

TEST(OfferedSteps, GroupsOrderAndParameters) {
  TempDir dir;
  MotorArgs args = testing::quiet_args(dir.path());
  args.data_paths = DataPaths{{"kik_data_ham_csv", "/d/kik"}, {"eus_hedef_muta", "/d/hedef"}};
  args.file_suffix = "_q3";
  Motor motor(args);

  std::vector<std::string> keys;
  const auto steps = motor.offered_steps(false, false, false, std::vector<std::string>{"2024-06", "2024-09"}, 5);
  for (const auto& step : steps) keys.push_back(step.kod);
  EXPECT_EQ(keys, (std::vector<std::string>{"ingest_ddl", "ingest_kik", "ingest_kredi", "ingest_yis", "ingest_eus",
                                            "ingest_hedef_kapsam", "ingest_statik", "ingest_train", "ingest_rkd",
                                            "ingest_memzuc", "transform", "marts", "ml_features", "ml_train",
                                            "ml_predict", "backtest_eus", "backtest_yis", "backtest_ml"}));
  const std::string external = (motor.work_dir / "external_data").string();
  EXPECT_EQ(text_param(*steps[1].ek_params, "SOURCE_DIR"), "/d/kik");
  EXPECT_EQ(*steps[2].source_dirs, std::vector<std::string>{external + "/kredi_db"});
  EXPECT_EQ(text_param(*steps[5].ek_params, "SOURCE_DIRS"), "/d/hedef," + external + "/eus_sql_kapsam_muta");
  EXPECT_EQ(steps[5].source_dirs->size(), 2u);
  EXPECT_EQ(text_param(*steps[8].ek_params, "SOURCE_DIRS"), external + "/rkd_donem_data");
  EXPECT_EQ(text_param(*steps[10].ek_params, "REFERANS_TARIH_LIST"), "['2024-06', '2024-09']");
  EXPECT_EQ(text_param(*steps[10].ek_params, "LOG_DIR"), motor.log_dir.string());
  EXPECT_FALSE(steps[11].ek_params.has_value());
  EXPECT_EQ(std::get<std::int64_t>(*steps[12].ek_params->find("TEST_MUTA_COUNT")), 5);
  EXPECT_EQ(steps[12].ek_params->size(), 2u);
  EXPECT_EQ(text_param(*steps[14].ek_params, "SCOREBOARD_PATH"), (motor.output_dir / "sample_scoreboard_q3.json").string());

  const auto minimal = motor.offered_steps(true, true, true, std::vector<std::string>{}, 0);
  ASSERT_EQ(minimal.size(), 2u);
  EXPECT_EQ(minimal[0].ek_params->size(), 1u);  // only LOG_DIR
}

TEST(RunAll, BannerStepsSummaryAndManifest) {
  TempDir dir;
  testing::write_registry_notebooks(dir.path());
  auto executor = std::make_shared<FakeExecutor>();
  MotorArgs args = testing::quiet_args(dir.path());
  args.mode = "test";
  args.muta_filter_path = "/f/m.csv";
  args.force_adimlar = std::vector<std::string>{"marts"};
  args.executor = executor;
  Motor motor(args);
  ::testing::internal::CaptureStdout();
  const fs::path manifest = motor.run_all(true, false, true);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(out.starts_with("Vordak Pipeline v1.0.0\nSeason: " + motor.season_adi + "\nMode: test\nDB: " +
                              motor.db_path.string() + "\nMUTA filtre: /f/m.csv\nForce: False ['marts']\n"))
      << out;
  EXPECT_EQ(executor->executed(), (std::vector<std::string>{"nb_02_transform.ipynb", "nb_03_marts.ipynb", "nb_05a_backtest_eus.ipynb",
                                                            "nb_05b_backtest_yis.ipynb", "nb_05c_backtest_ml.ipynb"}));
  EXPECT_TRUE(fs::exists(manifest));
  EXPECT_NE(out.find("OK:5 Atlandı:0 Hata:0"), std::string::npos);
}

TEST(Plan, DecidesWithoutWritingAnything) {
  TempDir dir;
  testing::write_registry_notebooks(dir.path());
  MotorArgs args = testing::quiet_args(dir.path());
  args.dry_run = true;
  args.from_step = "ingest_memzuc";
  const Motor motor(args);
  EXPECT_FALSE(fs::exists(dir / "seasons"));
  const auto rows = motor.plan(false, true, true);
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[0].karar, "ATLANIR");
  EXPECT_EQ(rows[0].sebep, "--from ingest_memzuc");
  EXPECT_EQ(rows[9].sebep, "ingest — notebook kontrol eder");
  EXPECT_EQ(rows[10].sebep, "ilk çalıştırma");  // transform: its own decision comes first
  EXPECT_EQ(rows[11].kod, "marts");
  EXPECT_FALSE(fs::exists(dir / "seasons"));
  EXPECT_FALSE(fs::exists(dir / "outputs"));
}

}  // namespace
}  // namespace vordak::motor
