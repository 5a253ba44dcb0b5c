#include <gtest/gtest.h>

#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::FakeExecutor;
using testing::TempDir;

class StepTest : public ::testing::Test {
 protected:
  StepTest() { testing::write_registry_notebooks(dir.path()); }
  Motor make(MotorArgs args) {
    args.executor = executor;
    return Motor(args);
  }
  Motor make() { return make(testing::quiet_args(dir.path())); }
  // The lines a call prints.
  template <typename F>
  std::string output_of(F&& body) {
    ::testing::internal::CaptureStdout();
    body();
    return ::testing::internal::GetCapturedStdout();
  }
  TempDir dir;
  std::shared_ptr<FakeExecutor> executor = std::make_shared<FakeExecutor>();
};

TEST_F(StepTest, UnknownStepPrintsOneLineAndRecordsNothing) {
  Motor motor = make();
  bool ok = true;
  EXPECT_EQ(output_of([&] { ok = motor.adim_isle("yok_boyle"); }), "  [!] Bilinmeyen adım: yok_boyle\n");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(motor.ozet_satirlar.empty());
  EXPECT_TRUE(motor.manifest_adimlar.empty());
}

TEST_F(StepTest, MissingNotebookIsRecordedAsNbYok) {
  fs::remove(dir / "nb_07b_diag_risk.ipynb");
  Motor motor = make();
  bool called = false;
  const std::string out = output_of([&] { EXPECT_FALSE(motor.adim_isle("diag_risk", std::nullopt, [&](auto&) { called = true; })); });
  EXPECT_EQ(out, "\n  ── diag_risk | Risk tutarlılık diagnostiği ──\n  [!] Notebook bulunamadı: nb_07b_diag_risk.ipynb\n");
  EXPECT_FALSE(called);
  ASSERT_EQ(motor.ozet_satirlar.size(), 1u);
  EXPECT_EQ(motor.ozet_satirlar[0].durum, "NB YOK");
  EXPECT_EQ(motor.ozet_satirlar[0].sebep, "bulunamadı");
  EXPECT_EQ(motor.manifest_adimlar["diag_risk"], (ordered_json{{"durum", "NB_YOK"}}));
}

TEST_F(StepTest, ExecutesWithParametersInOrderAndRecordsTheRun) {
  MotorArgs args = testing::quiet_args(dir.path());
  args.muta_filter_path = "/f/muta.csv";
  args.file_suffix = "_q3";
  Motor motor = make(args);
  NotebookParams extra{{"LOG_DIR", "/logs"}, {"DB_PATH", "/other.duckdb"}};
  const std::string out = output_of([&] { EXPECT_TRUE(motor.adim_isle("transform", extra)); });
  ASSERT_EQ(executor->calls.size(), 1u);
  const auto& call = executor->calls[0];
  EXPECT_EQ(call.output, (motor.log_dir / "adim_transform_nb_02_transform.ipynb").string());
  EXPECT_EQ(call.cwd, motor.work_dir.string());
  std::vector<std::string> names;
  for (const auto& [name, value] : call.params) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"DB_PATH", "OUTPUT_DIR", "WORK_DIR", "MUTA_FILTER_PATH", "FILE_SUFFIX", "LOG_DIR"}));
  EXPECT_EQ(std::get<std::string>(*call.params.find("DB_PATH")), "/other.duckdb");

  EXPECT_TRUE(out.find("  ÇALIŞTIRILIYOR — ilk çalıştırma\n  OK 0s\n") != std::string::npos) << out;
  EXPECT_TRUE(motor.calisan_adimlar.contains("transform"));
  EXPECT_TRUE(fs::exists(motor.meta_dir / "adim_transform.json"));
  EXPECT_EQ(motor.manifest_adimlar["transform"],
            (ordered_json{{"notebook", "nb_02_transform.ipynb"}, {"durum", "OK"}, {"sure", "0s"}}));
}

TEST_F(StepTest, DecisionRulesAndTheirReasons) {
  {
    Motor first = make();
    output_of([&] { first.adim_isle("transform"); });
    testing::age_season(first);
  }
  // Unchanged: skipped; forced: runs with ZORLA; cascaded by a step that ran in this run.
  MotorArgs args = testing::quiet_args(dir.path());
  args.force_adimlar = std::vector<std::string>{"transform"};
  Motor motor = make(args);
  const std::string out = output_of([&] {
    motor.adim_isle("transform");
    motor.adim_isle("backtest_eus");
    motor.adim_isle("ingest_kik");
  });
  EXPECT_NE(out.find("  ÇALIŞTIRILIYOR — ZORLA (uyumlu ("), std::string::npos) << out;
  EXPECT_NE(out.find("  ÇALIŞTIRILIYOR — ilk çalıştırma"), std::string::npos);
  EXPECT_NE(out.find("  ÇALIŞTIRILIYOR — ingest — notebook kontrol eder"), std::string::npos);

  testing::age_season(motor);
  Motor later = make();
  const std::string cascade = output_of([&] {
    later.adim_isle("backtest_eus");  // unchanged now
    later.calisan_adimlar.insert("transform");
    later.adim_isle("backtest_eus");
  });
  EXPECT_NE(cascade.find("  ATLANDI — uyumlu ("), std::string::npos) << cascade;
  EXPECT_NE(cascade.find("  ÇALIŞTIRILIYOR — cascade (transform)"), std::string::npos) << cascade;
}

TEST_F(StepTest, FromStepSkipComesBeforeForcing) {
  MotorArgs args = testing::quiet_args(dir.path());
  args.from_step = "transform";
  args.force_all = true;
  Motor motor = make(args);
  bool called = false;
  const std::string out = output_of([&] { EXPECT_TRUE(motor.adim_isle("ingest_kik", std::nullopt, [&](auto&) { called = true; })); });
  EXPECT_TRUE(out.ends_with("  ATLANDI — --from transform\n")) << out;
  EXPECT_TRUE(called);
  EXPECT_TRUE(executor->calls.empty());
  EXPECT_EQ(motor.manifest_adimlar["ingest_kik"], (ordered_json{{"durum", "ATLANDI"}, {"sebep", "--from transform"}}));
}

TEST_F(StepTest, FailureIsReportedRecordedAndDoesNotCascade) {
  executor->failing = {{"nb_02_transform", "KeyError: " + std::string(400, 'x')}};
  Motor motor = make();
  const std::string out = output_of([&] { EXPECT_FALSE(motor.adim_isle("transform")); });
  const std::string hata = "KeyError: " + std::string(290, 'x');
  EXPECT_NE(out.find("  HATA — 0s\n  " + hata + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Hata raporu: " + (motor.season_dir / "error_report.txt").string()), std::string::npos);
  EXPECT_TRUE(fs::exists(motor.season_dir / "error_report.txt"));
  EXPECT_FALSE(motor.calisan_adimlar.contains("transform"));
  EXPECT_FALSE(fs::exists(motor.meta_dir / "adim_transform.json"));
  EXPECT_EQ(motor.ozet_satirlar.back().sebep, hata.substr(0, 80));
  EXPECT_EQ(motor.manifest_adimlar["transform"]["hata"], hata);
}

TEST_F(StepTest, FailingVerificationLeavesOkRowThenHataRow) {
  Motor motor = make();
  output_of([&] {
    EXPECT_FALSE(motor.adim_isle("transform", std::nullopt, [](auto&) { throw std::runtime_error("doğrulama"); }));
  });
  ASSERT_EQ(motor.ozet_satirlar.size(), 2u);
  EXPECT_EQ(motor.ozet_satirlar[0].durum, "OK");
  EXPECT_EQ(motor.ozet_satirlar[1].durum, "HATA");
  EXPECT_EQ(motor.manifest_adimlar["transform"]["durum"], "HATA");
  EXPECT_TRUE(motor.calisan_adimlar.contains("transform"));
}

TEST_F(StepTest, SourcesAreFingerprintedOnlyForNonIngestSteps) {
  testing::write_text(dir / "src" / "b.csv", "1");
  testing::write_text(dir / "src" / "a.csv", "2");
  fs::create_directories(dir / "src" / "sub");
  Motor motor = make();
  const std::vector<std::string> dirs{(dir / "src").string(), (dir / "nope").string()};
  output_of([&] {
    motor.adim_isle("transform", std::nullopt, nullptr, dirs);
    motor.adim_isle("ingest_kik", std::nullopt, nullptr, dirs);
  });
  const ordered_json transform = parse_json(testing::read_text(motor.meta_dir / "adim_transform.json"));
  std::vector<std::string> listed;
  for (const auto& [path, hash] : transform["source_hashes"].items()) listed.push_back(fs::path(path).filename().string());
  EXPECT_EQ(listed, (std::vector<std::string>{"a.csv", "b.csv"}));
  const ordered_json ingest = parse_json(testing::read_text(motor.meta_dir / "adim_ingest_kik.json"));
  EXPECT_FALSE(ingest.contains("source_hashes"));
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
