#include "motor/step_runner.h"

#include <gtest/gtest.h>

#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

class StepTest : public testing::EngineTest {
 protected:
  StepTest() { write_registry_notebooks(); }
  const OzetSatiri& last_row(const Motor& motor) { return motor.report().ozet_satirlar().back(); }
  const ordered_json& entry(const Motor& motor, const std::string& kod) { return motor.report().manifest_adimlar()[kod]; }
};

TEST_F(StepTest, UnknownStepPrintsOneLineAndRecordsNothing) {
  const auto motor = make();
  EXPECT_FALSE(motor->adim_isle("yok_boyle"));
  EXPECT_EQ(out.take(), "  [!] Bilinmeyen adım: yok_boyle\n");
  EXPECT_TRUE(motor->report().ozet_satirlar().empty());
  EXPECT_TRUE(motor->report().manifest_adimlar().empty());
}

TEST_F(StepTest, MissingNotebookIsRecordedAsNbYok) {
  env.remove_file(dir / "nb_07b_diag_risk.ipynb");
  const auto motor = make();
  out.take();
  bool called = false;
  EXPECT_FALSE(motor->adim_isle("diag_risk", std::nullopt, [&](auto&) { called = true; }));
  EXPECT_EQ(out.take(), "\n  ── diag_risk | Risk tutarlılık diagnostiği ──\n  [!] Notebook bulunamadı: nb_07b_diag_risk.ipynb\n");
  EXPECT_FALSE(called);
  ASSERT_EQ(motor->report().ozet_satirlar().size(), 1u);
  EXPECT_EQ(last_row(*motor).durum, StepStatus::kNotebookMissing);
  EXPECT_EQ(last_row(*motor).sebep, "bulunamadı");
  EXPECT_EQ(entry(*motor, "diag_risk"), (ordered_json{{"durum", "NB_YOK"}}));
  EXPECT_EQ(motor->report().failed_steps(), std::vector<std::string>{"diag_risk"});
}

TEST_F(StepTest, ExecutesWithParametersInOrderAndRecordsTheRun) {
  MotorArgs args = testing::quiet_args(dir);
  args.muta_filter_path = "/f/muta.csv";
  args.file_suffix = "_q3";
  const auto motor = make(args);
  const Season& season = motor->season();
  NotebookParams extra{{"LOG_DIR", "/logs"}, {"DB_PATH", "/other.duckdb"}};
  EXPECT_TRUE(motor->adim_isle("transform", extra));
  const std::string lines = out.take();
  ASSERT_EQ(executor->calls.size(), 1u);
  const auto& call = executor->calls[0];
  EXPECT_EQ(call.output, (season.log_dir() / "adim_transform_nb_02_transform.ipynb").string());
  EXPECT_EQ(call.cwd, season.work_dir().string());
  std::vector<std::string> names;
  for (const auto& [name, value] : call.params) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"DB_PATH", "OUTPUT_DIR", "WORK_DIR", "MUTA_FILTER_PATH", "FILE_SUFFIX", "LOG_DIR",
                                               "REPORT_PATH", "CROSS_CHECKS", "ACCEPTED_CHECKS"}));
  EXPECT_EQ(std::get<std::string>(*call.params.find("DB_PATH")), "/other.duckdb");

  EXPECT_NE(lines.find("  ÇALIŞTIRILIYOR — ilk çalıştırma\n  OK 0s\n"), std::string::npos) << lines;
  EXPECT_TRUE(motor->calisan_adimlar().contains("transform"));
  EXPECT_TRUE(env.exists(season.meta_dir() / "adim_transform.json"));
  EXPECT_EQ(entry(*motor, "transform"), (ordered_json{{"notebook", "nb_02_transform.ipynb"}, {"durum", "OK"}, {"sure", "0s"}}));
}

TEST_F(StepTest, DecisionRulesAndTheirReasons) {
  make()->adim_isle("transform");
  // Unchanged: skipped; forced: runs with ZORLA; a first run; an ingest step.
  MotorArgs args = testing::quiet_args(dir);
  args.force_adimlar = std::vector<std::string>{"transform"};
  const auto motor = make(args);
  out.take();
  motor->adim_isle("transform");
  motor->adim_isle("backtest_eus");
  motor->adim_isle("ingest_kik");
  const std::string lines = out.take();
  EXPECT_NE(lines.find("  ÇALIŞTIRILIYOR — ZORLA (uyumlu ("), std::string::npos) << lines;
  EXPECT_NE(lines.find("  ÇALIŞTIRILIYOR — ilk çalıştırma"), std::string::npos);
  EXPECT_NE(lines.find("  ÇALIŞTIRILIYOR — ingest — notebook kontrol eder"), std::string::npos);

  // Later: an unchanged step is skipped unless an upstream step ran earlier in the same
  // run; a failed upstream step cascades nothing.
  const auto later = make();
  out.take();
  later->adim_isle("backtest_eus");
  EXPECT_NE(out.take().find("  ATLANDI — uyumlu ("), std::string::npos);
  later->adim_isle("ingest_kik");
  later->adim_isle("transform");
  EXPECT_NE(out.take().find("  ÇALIŞTIRILIYOR — cascade (ingest_kik)"), std::string::npos);
  later->adim_isle("backtest_eus");
  EXPECT_NE(out.take().find("  ÇALIŞTIRILIYOR — cascade (transform)"), std::string::npos);

  executor->failing = {{"nb_02_transform", "boom"}};
  const auto failing = make();
  failing->adim_isle("ingest_kik");
  EXPECT_FALSE(failing->adim_isle("transform"));
  out.take();
  failing->adim_isle("backtest_eus");
  EXPECT_NE(out.take().find("  ATLANDI — uyumlu ("), std::string::npos) << "a failed transform cascades nothing";
}

TEST_F(StepTest, FromStepSkipComesBeforeForcing) {
  MotorArgs args = testing::quiet_args(dir);
  args.from_step = "transform";
  args.force_all = true;
  const auto motor = make(args);
  bool called = false;
  EXPECT_TRUE(motor->adim_isle("ingest_kik", std::nullopt, [&](auto&) { called = true; }));
  const std::string lines = out.take();
  EXPECT_TRUE(lines.ends_with("  ATLANDI — --from transform\n")) << lines;
  EXPECT_TRUE(called);
  EXPECT_TRUE(executor->calls.empty());
  EXPECT_EQ(entry(*motor, "ingest_kik"), (ordered_json{{"durum", "ATLANDI"}, {"sebep", "--from transform"}}));
}

TEST_F(StepTest, FailureIsReportedRecordedAndDoesNotCascade) {
  executor->failing = {{"nb_02_transform", "KeyError: " + std::string(400, 'x')}};
  const auto motor = make();
  const Season& season = motor->season();
  EXPECT_FALSE(motor->adim_isle("transform"));
  const std::string lines = out.take();
  const std::string hata = "KeyError: " + std::string(290, 'x');
  EXPECT_NE(lines.find("  HATA — 0s\n  " + hata + "\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("  Hata raporu: " + (season.season_dir() / "error_report.txt").string()), std::string::npos);
  EXPECT_TRUE(env.exists(season.season_dir() / "error_report.txt"));
  EXPECT_FALSE(motor->calisan_adimlar().contains("transform"));
  EXPECT_FALSE(env.exists(season.meta_dir() / "adim_transform.json"));
  EXPECT_EQ(last_row(*motor).durum, StepStatus::kFailed);
  EXPECT_EQ(last_row(*motor).sebep, hata.substr(0, 80));
  EXPECT_EQ(entry(*motor, "transform")["hata"], hata);
}

TEST_F(StepTest, FailingVerificationLeavesOkRowThenHataRow) {
  const auto motor = make();
  EXPECT_FALSE(motor->adim_isle("transform", std::nullopt, [](auto&) { throw std::runtime_error("doğrulama"); }));
  const auto& rows = motor->report().ozet_satirlar();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].durum, StepStatus::kOk);
  EXPECT_EQ(rows[1].durum, StepStatus::kFailed);
  EXPECT_EQ(entry(*motor, "transform")["durum"], "HATA");
  EXPECT_TRUE(motor->calisan_adimlar().contains("transform"));
}

TEST_F(StepTest, SourcesAreFingerprintedBeforeTheNotebookRuns) {
  write_text(dir / "src" / "b.csv", "1");
  write_text(dir / "src" / "a.csv", "2");
  env.create_directories(dir / "src" / "sub");
  const auto motor = make();
  const std::vector<std::string> dirs{(dir / "src").string(), (dir / "nope").string()};
  motor->adim_isle("transform", std::nullopt, nullptr, dirs);
  motor->adim_isle("ingest_kik", std::nullopt, nullptr, dirs);
  const fs::path& meta = motor->season().meta_dir();
  for (const char* kod : {"transform", "ingest_kik"}) {
    const ordered_json record = parse_json(read_text(meta / ("adim_" + std::string(kod) + ".json")));
    std::vector<std::string> listed;
    for (const auto& [path, hash] : record["source_hashes"].items()) listed.push_back(fs::path(path).filename().string());
    EXPECT_EQ(listed, (std::vector<std::string>{"a.csv", "b.csv"})) << kod;
  }
}

TEST_F(StepTest, AnIngestThatFoundItsSourcesUnchangedIsOkButCascadesNothing) {
  executor->reports = {{"nb_01b_ingest_kik", R"({"kaynak_degisti": false})"}, {"nb_01c_ingest_kredi", "{garbled"}};
  const auto motor = make();
  out.take();
  EXPECT_TRUE(motor->adim_isle("ingest_kik"));
  EXPECT_NE(out.take().find("\n  OK 0s — kaynak değişmedi\n"), std::string::npos);
  EXPECT_EQ(last_row(*motor).durum, StepStatus::kOk);
  EXPECT_EQ(last_row(*motor).sebep, "kaynak değişmedi");
  EXPECT_EQ(entry(*motor, "ingest_kik"),
            (ordered_json{{"notebook", "nb_01b_ingest_kik.ipynb"}, {"durum", "OK"}, {"sure", "0s"}, {"sebep", "kaynak değişmedi"}}));
  EXPECT_FALSE(motor->calisan_adimlar().contains("ingest_kik"));
  const ordered_json record = parse_json(read_text(motor->season().meta_dir() / "adim_ingest_kik.json"));
  EXPECT_EQ(record["kaynak_degismedi"], true);
  EXPECT_EQ(record["son_degisiklik"], motor->season().season_adi()) << "no earlier load: taken as changed now";
  const std::string report = (motor->season().log_dir() / "adim_ingest_kik_rapor.json").string();
  EXPECT_EQ(std::get<std::string>(*executor->calls.back().params.find("REPORT_PATH")), report);

  // A report that cannot be read costs the steps below a run, never the step.
  EXPECT_TRUE(motor->adim_isle("ingest_kredi"));
  const std::string lines = out.take();
  EXPECT_NE(lines.find("  [WARN] adım raporu okunamadı: " + (motor->season().log_dir() / "adim_ingest_kredi_rapor.json").string()),
            std::string::npos)
      << lines;
  EXPECT_TRUE(motor->calisan_adimlar().contains("ingest_kredi"));
  // A step without a report channel gets no REPORT_PATH.
  motor->adim_isle("ml_features");
  EXPECT_EQ(executor->calls.back().params.find("REPORT_PATH"), nullptr);
}

}  // namespace
}  // namespace vordak::motor
