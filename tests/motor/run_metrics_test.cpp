#include "motor/run_metrics.h"

#include <gtest/gtest.h>

#include "motor_test_support.h"

namespace vordak::motor {
namespace {

TEST(RunMetrics, WritesEveryFigureInTheTextFormatWithTheWorkingDirectoryAsALabel) {
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  StringSink out;
  MotorArgs args = testing::quiet_args(dir.path());
  args.dry_run = true;
  const Season season(args, clock, out);
  RunReport report(season, clock, out);
  report.completed("transform", "nb_02_transform.ipynb", 1.5, "notebook değişti");
  report.skipped("marts", "nb_03_marts.ipynb", "uyumlu");
  report.failed("ingest_kik", "nb_01b_ingest_kik.ipynb", 2.25, "veri kontrolü");
  report.data_check_failed("ingest_kik", "kik_data_ham_csv:eksik_donem,kik_data_ham_csv:satir_sayisi");
  report.notebook_missing("ml_train", "nb_04b_ml_train.ipynb");
  report.data_findings("transform", {"az satır"}, ordered_json::array());

  RunFigures figures{"/srv/vor\"dak", RunState::kFailed, 12.5, 1740838502.0, std::nullopt};
  const std::string labels = "{work_dir=\"/srv/vor\\\"dak\"";
  const std::string text = metrics_text(figures, report);
  for (const std::string& line : std::vector<std::string>{
           "# TYPE vordak_run_last_success_timestamp_seconds gauge\n",
           "vordak_run_last_success_timestamp_seconds" + labels + "} 0.0\n",
           "vordak_run_last_timestamp_seconds" + labels + "} 1740838502.0\n",
           "vordak_run_success" + labels + "} 0.0\n",
           "vordak_run_duration_seconds" + labels + "} 12.5\n",
           "vordak_steps" + labels + ",status=\"atlandi\"} 1.0\nvordak_steps" + labels + ",status=\"hata\"} 1.0\nvordak_steps" +
               labels + ",status=\"nb_yok\"} 1.0\nvordak_steps" + labels + ",status=\"ok\"} 1.0\n",
           "vordak_step_duration_seconds" + labels + ",step=\"ingest_kik\"} 2.25\nvordak_step_duration_seconds" + labels +
               ",step=\"transform\"} 1.5\n",
           "vordak_data_check_failures" + labels + "} 2.0\n",
           "vordak_data_check_warnings" + labels + "} 1.0\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
  }

  // A later failed run keeps the last success of the file it replaces.
  const fs::path file = dir / "vordak.prom";
  EXPECT_EQ(previous_last_success(file, clock), std::nullopt);
  figures.last_success_at = 1740000000.5;
  testing::write_text(file, metrics_text(figures, report));
  EXPECT_EQ(previous_last_success(file, clock), 1740000000.5);
}

}  // namespace
}  // namespace vordak::motor
