#include <gtest/gtest.h>

#include <algorithm>

#include "motor/history.h"
#include "motor/motor.h"
#include "motor/step_table.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

std::string text_param(const NotebookParams& params, const std::string& name) {
  const ParamValue* value = params.find(name);
  return value ? std::get<std::string>(*value) : "<none>";
}

std::vector<std::string> keys_of(const std::vector<OfferedStep>& steps) {
  std::vector<std::string> keys;
  for (const auto& step : steps) keys.push_back(step.kod);
  return keys;
}

class RunTest : public testing::EngineTest {};

TEST_F(RunTest, OfferedStepsCarryTheirDataSourcesAndParameters) {
  MotorArgs args = testing::quiet_args(dir);
  args.data_paths = DataPaths{{"kik_data_ham_csv", "/d/kik"}, {"eus_hedef_muta", "/d/hedef"}};
  args.file_suffix = "_q3";
  const auto motor = make(args);
  const Season& season = motor->season();

  RunArgs run;
  run.referans_tarih_list = std::vector<std::string>{"2024-06", "2024-09"};
  run.test_muta_count = 5;
  const auto steps = motor->offered_steps(run);
  const auto step = [&](const std::string& kod) {
    return *std::find_if(steps.begin(), steps.end(), [&](const OfferedStep& s) { return s.kod == kod; });
  };
  const std::string external = (season.work_dir() / "external_data").string();
  EXPECT_EQ(text_param(*step("ingest_kik").ek_params, "SOURCE_DIR"), "/d/kik");
  EXPECT_EQ(*step("ingest_kredi").source_dirs, std::vector<std::string>{external + "/kredi_db"});
  EXPECT_EQ(text_param(*step("ingest_hedef_kapsam").ek_params, "SOURCE_DIRS"), "/d/hedef," + external + "/eus_sql_kapsam_muta");
  EXPECT_EQ(step("ingest_hedef_kapsam").source_dirs->size(), 2u);
  EXPECT_EQ(text_param(*step("ingest_rkd").ek_params, "SOURCE_DIRS"), external + "/rkd_donem_data");
  EXPECT_FALSE(step("ingest_ddl").ek_params.has_value());
  EXPECT_EQ(text_param(*step("transform").ek_params, "REFERANS_TARIH_LIST"), "['2024-06', '2024-09']");
  EXPECT_EQ(text_param(*step("transform").ek_params, "LOG_DIR"), season.log_dir().string());
  EXPECT_FALSE(step("marts").ek_params.has_value());
  EXPECT_EQ(std::get<std::int64_t>(*step("ml_features").ek_params->find("TEST_MUTA_COUNT")), 5);
  EXPECT_EQ(step("ml_features").ek_params->size(), 2u);
  EXPECT_EQ(text_param(*step("ml_predict").ek_params, "SCOREBOARD_PATH"),
            (season.output_dir() / "sample_scoreboard_q3.json").string());

  RunArgs minimal;
  minimal.skip_ingest = minimal.skip_ml = minimal.skip_backtest = true;
  minimal.referans_tarih_list = std::vector<std::string>{};
  const auto core = motor->offered_steps(minimal);
  EXPECT_EQ(keys_of(core), (std::vector<std::string>{"transform", "eus_diag", "diag_analysis", "marts"}));
  EXPECT_EQ(core[0].ek_params->size(), 1u);  // only LOG_DIR
}

TEST_F(RunTest, AllStepsOffersEveryStepAfterWhatItReads) {
  const auto motor = make();
  RunArgs run;
  run.all_steps = true;
  const auto steps = motor->offered_steps(run);
  EXPECT_EQ(keys_of(steps), full_run_order());
  const auto depo = std::find_if(steps.begin(), steps.end(), [](const OfferedStep& s) { return s.kod == "ingest_depo"; });
  ASSERT_NE(depo, steps.end());
  EXPECT_EQ(text_param(*depo->ek_params, "SOURCE_DIR"),
            (motor->season().work_dir() / "external_data" / "raporlama_depo").string());
  run.skip_ingest = true;
  for (const std::string& kod : keys_of(motor->offered_steps(run))) EXPECT_FALSE(is_ingest_step(kod)) << kod;
}

TEST_F(RunTest, BannerStepsSummaryAndManifest) {
  write_registry_notebooks();
  MotorArgs args = testing::quiet_args(dir);
  args.mode = "test";
  args.muta_filter_path = "/f/m.csv";
  args.force_adimlar = std::vector<std::string>{"marts"};
  const auto motor = make(args);
  RunArgs run;
  run.skip_ingest = run.skip_ml = true;
  const fs::path manifest = motor->run_all(run);
  const std::string lines = out.take();
  const Season& season = motor->season();
  EXPECT_TRUE(lines.starts_with("Vordak Pipeline v1.0.0\nSeason: " + season.season_adi() + "\nMode: test\nDB: " +
                                season.db_path().string() + "\nMUTA filtre: /f/m.csv\nForce: False ['marts']\n"))
      << lines;
  EXPECT_EQ(executor->executed(),
            (std::vector<std::string>{"nb_02_transform.ipynb", "nb_06a_diag_extract.ipynb", "nb_06b_diag_analysis.ipynb",
                                      "nb_03_marts.ipynb", "nb_05a_backtest_eus.ipynb", "nb_05b_backtest_yis.ipynb",
                                      "nb_05c_backtest_ml.ipynb", "nb_03_marts.ipynb"}));
  EXPECT_TRUE(env.exists(manifest));
  EXPECT_NE(lines.find("OK:8 Atlandı:0 Hata:0"), std::string::npos);
}

TEST_F(RunTest, PlanDecidesAsTheRunWouldWithoutWritingAnything) {
  write_registry_notebooks();
  MotorArgs args = testing::quiet_args(dir);
  args.dry_run = true;
  args.from_step = "ingest_memzuc";
  RunArgs run;
  run.skip_ml = run.skip_backtest = true;
  const auto rows = make(args)->plan(run);
  ASSERT_EQ(rows.size(), 14u);
  EXPECT_EQ(rows[0].karar, PlanVerdict::kSkips);
  EXPECT_EQ(rows[0].sebep, "--from ingest_memzuc");
  EXPECT_EQ(rows[9].sebep, "ingest — notebook kontrol eder");
  EXPECT_EQ(rows[10].sebep, "ilk çalıştırma");  // transform: its own decision comes first
  EXPECT_EQ(rows[12].sebep, "önkoşul (marts) — hiç çalışmamış");
  EXPECT_EQ(rows[13].kod, "marts");
  EXPECT_FALSE(env.exists(dir / "seasons"));
  EXPECT_FALSE(env.exists(dir / "outputs"));

  // After a run, the plan of the same options is what the next run does.
  args.dry_run = false;
  args.from_step.reset();
  make(args)->run_all(run);
  args.dry_run = true;
  const auto planned = make(args)->plan(run);
  args.dry_run = false;
  executor->calls.clear();
  make(args)->run_all(run);
  std::vector<std::string> expected_runs;
  for (const PlanRow& row : planned) {
    if (row.karar == PlanVerdict::kRuns) expected_runs.push_back(find_step(row.kod)->nb);
  }
  EXPECT_EQ(executor->executed(), expected_runs);
}

// A working directory whose extracts, database and records are the FakeExecutor's.
class NightTest : public RunTest {
 protected:
  NightTest() {
    write_registry_notebooks();
    write_text(dir / "kik" / "kik_202401.csv", "MUTA_NO;DONEM\n1;202401\n");
    write_text(dir / "db" / "vrd.duckdb", "");
  }
  std::vector<std::string> night(const RunArgs& run = {}, MotorArgs args = {}) {
    if (args.work_dir == ".") args = testing::quiet_args(dir);
    executor->calls.clear();
    make(args)->run_all(run);
    out.take();
    std::vector<std::string> ran;
    for (const auto& call : executor->calls) ran.push_back(call.output.substr(call.output.rfind("/adim_") + 6));
    for (std::string& name : ran) name = name.substr(0, name.find("_nb_"));
    return ran;
  }
};

TEST_F(NightTest, ANewDirectoryRunsWhatItsStepsNeedOnceAndThenOnlyWhatChanged) {
  // Every step after the offered steps it reads, but the marts, which also run again after
  // the predictions and backtests they show.
  const std::vector<OfferedStep> first_offer = make()->offered_steps({});
  for (auto step = first_offer.begin(); step != first_offer.end(); ++step) {
    for (auto later = step + 1; later != first_offer.end(); ++later) {
      const auto& reads = find_step(step->kod)->reads;
      if (step->kod == "marts") continue;
      EXPECT_EQ(std::count(reads.begin(), reads.end(), later->kod), 0) << step->kod << " " << later->kod;
    }
  }
  const auto prerequisite = [&](const std::string& kod) {
    return std::find_if(first_offer.begin(), first_offer.end(), [&](const OfferedStep& s) { return s.kod == kod; })->prerequisite_of;
  };
  EXPECT_EQ(prerequisite("eus_diag"), "diag_analysis");
  EXPECT_EQ(prerequisite("diag_analysis"), "marts");
  EXPECT_EQ(prerequisite("diag_features"), "ml_features");
  EXPECT_EQ(prerequisite("transform"), std::nullopt);

  const std::vector<std::string> first = night();
  EXPECT_EQ(first.size(), first_offer.size() + 1) << "every step, and the marts twice";
  EXPECT_EQ(first.back(), "marts");
  EXPECT_EQ(keys_of(make()->offered_steps({})), default_run_order()) << "what they need has run";

  EXPECT_EQ(night(), std::vector<std::string>{}) << "an unchanged night runs no notebook";

  write_text(dir / "kik" / "kik_202402.csv", "MUTA_NO;DONEM\n1;202402\n");
  EXPECT_EQ(night(), (std::vector<std::string>{"ingest_kik", "transform", "marts", "ml_features", "ml_train", "ml_predict",
                                               "backtest_eus", "backtest_yis", "backtest_ml", "marts"}));

  // A notebook that reloads nothing leaves the steps below it alone, forced or not.
  executor->reports = {{"nb_01b_ingest_kik", R"({"kaynak_degisti": false})"}};
  MotorArgs forced = testing::quiet_args(dir);
  forced.force_adimlar = std::vector<std::string>{"ingest_kik"};
  EXPECT_EQ(night({}, forced), std::vector<std::string>{"ingest_kik"});
  EXPECT_EQ(night(), std::vector<std::string>{}) << "nor in the next run";
}

TEST_F(NightTest, NewPredictionsReachThePagesInTheSameRun) {
  night();
  RunArgs run;
  run.skip_ingest = true;
  MotorArgs forced = testing::quiet_args(dir);
  forced.force_adimlar = std::vector<std::string>{"ml_predict"};
  forced.dry_run = true;
  const std::vector<PlanRow> rows = make(forced)->plan(run);
  EXPECT_EQ(rows.back().kod, "marts");
  EXPECT_EQ(rows.back().karar, PlanVerdict::kRuns);
  EXPECT_EQ(rows.back().sebep, "cascade (ml_predict)");
  forced.dry_run = false;
  const std::string first = read_history(dir, env, out).front().season;
  EXPECT_EQ(night(run, forced), (std::vector<std::string>{"ml_predict", "marts"}));
  // The pages name the season that made each part: the predictions are this run's.
  const std::string now = read_history(dir, env, out).front().season;
  EXPECT_EQ(parse_json(text_param(executor->calls.back().params, "STEP_SEASONS")),
            ordered_json({{"transform", first}, {"diag_analysis", first}, {"ml_predict", now}, {"backtest_eus", first},
                          {"backtest_yis", first}, {"backtest_ml", first}}));
}

}  // namespace
}  // namespace vordak::motor
