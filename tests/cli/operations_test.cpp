// What an operator runs around the nightly batch, end to end with tiny notebooks and the
// real kernel: history of the runs, pruning that leaves the next run's decisions as they
// were, and the runs page.

#include <gtest/gtest.h>

#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

std::vector<std::string> with_dir(std::vector<std::string> args, const fs::path& dir) {
  args.push_back("--work-dir");
  args.push_back(dir.string());
  return args;
}

std::vector<std::string> season_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir / "seasons")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Operations, HistoryListsTheRunsAndPruningKeepsTheNextRunsDecisions) {
  TempDir dir;
  write_tiny_notebooks(dir.path());
  const std::vector<std::string> run =
      with_dir({"run", "--skip-ingest", "--skip-ml", "--skip-backtest", "--metrics-file", (dir / "vordak.prom").string()}, dir.path());
  ASSERT_EQ(run_vordak(run).exit_status, 0);  // transform, the diagnostics the marts read, and marts run
  ASSERT_EQ(run_vordak(run).exit_status, 0);  // both skipped
  write_notebook(dir / "nb_03_marts.ipynb", {"params:x = 'marts v2'"});
  ASSERT_EQ(run_vordak(run).exit_status, 0);  // marts runs again
  ASSERT_EQ(run_vordak(run).exit_status, 0);  // both skipped
  const std::vector<std::string> seasons = season_names(dir.path());
  ASSERT_EQ(seasons.size(), 4u);

  const ChildResult listed = run_vordak(with_dir({"history", "--json"}, dir.path()));
  ASSERT_EQ(listed.exit_status, 0) << listed.err;
  const ordered_json history = ordered_json::parse(listed.out);
  ASSERT_EQ(history.size(), 4u);
  const std::vector<std::tuple<int, int, int>> counts = {{0, 2, 0}, {1, 1, 0}, {0, 2, 0}, {4, 0, 0}};
  for (std::size_t i = 0; i < history.size(); ++i) {
    EXPECT_EQ(history[i]["season"], seasons[3 - i]) << "newest first";
    EXPECT_EQ(std::tuple(history[i]["ok"].get<int>(), history[i]["atlandi"].get<int>(), history[i]["hata"].get<int>()),
              counts[i]);
    EXPECT_EQ(history[i]["nb_yok"], 0);
    EXPECT_EQ(history[i]["basarisiz"], ordered_json::array());
    EXPECT_EQ(history[i]["mode"], "prod");
    // Members added after the first ones, which keep their places.
    const std::vector<std::string> members = {"season", "baslangic", "mode", "manifest", "sure_dk", "ok", "atlandi", "hata",
                                              "nb_yok", "basarisiz", "durum", "exit", "bitis", "baslangic_iso", "sira"};
    std::vector<std::string> keys;
    for (const auto& [key, value] : history[i].items()) keys.push_back(key);
    EXPECT_EQ(keys, members);
    EXPECT_EQ(std::tuple(history[i]["durum"], history[i]["exit"], history[i]["sira"]), std::tuple("tamam", 0, 4 - i));
    // ISO 8601 with the UTC offset: 2025-03-01T14:15:02+03:00.
    for (const char* time : {"baslangic_iso", "bitis"}) {
      const std::string text = history[i][time].get<std::string>();
      EXPECT_EQ(text.size(), 25u) << text;
      EXPECT_TRUE(text[19] == '+' || text[19] == '-') << text;
    }
  }
  // Each run's figures, for node_exporter's textfile collector.
  const std::string metrics = read_text(dir / "vordak.prom");
  const std::string labels = "{work_dir=\"" + fs::canonical(dir.path()).string() + "\"";
  for (const std::string& line : std::vector<std::string>{"# TYPE vordak_run_last_success_timestamp_seconds gauge\n", "vordak_run_success" + labels + "} 1.0\n",
                                 "vordak_steps" + labels + ",status=\"atlandi\"} 2.0\n",
                                 "vordak_steps" + labels + ",status=\"ok\"} 0.0\n", "vordak_data_check_failures" + labels + "} 0.0\n"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
  }
  EXPECT_EQ(metrics.find("vordak_step_duration_seconds" + labels), std::string::npos) << "no step ran in the last run";
  const ChildResult marts = run_vordak(with_dir({"history", "marts", "--last", "2"}, dir.path()));
  EXPECT_EQ(marts.exit_status, 0);
  EXPECT_NE(marts.out.find("\n  " + seasons[3] + " "), std::string::npos) << marts.out;
  EXPECT_NE(marts.out.find(" ATLANDI  "), std::string::npos) << marts.out;
  EXPECT_EQ(std::count(marts.out.begin(), marts.out.end(), '\n'), 3) << "a header and the newest two";
  EXPECT_EQ(run_vordak(with_dir({"history", "mart"}, dir.path())).exit_status, 2);

  const std::vector<std::string> plan = with_dir({"plan", "--all-steps"}, dir.path());
  const ChildResult before = run_vordak(plan);
  ASSERT_EQ(before.exit_status, 0) << before.err;

  const ChildResult dry = run_vordak(with_dir({"prune", "--keep", "1", "--dry-run"}, dir.path()));
  EXPECT_EQ(dry.exit_status, 0) << dry.err;
  EXPECT_NE(dry.out.find("  Silinecek: " + seasons[1] + " ("), std::string::npos) << dry.out;
  EXPECT_EQ(season_names(dir.path()), seasons);

  const ChildResult pruned = run_vordak(with_dir({"prune", "--keep", "1"}, dir.path()));
  EXPECT_EQ(pruned.exit_status, 0) << pruned.err;
  EXPECT_NE(pruned.out.find("  Korunuyor: " + seasons[2] + " — son meta kaydı: marts\n"), std::string::npos) << pruned.out;
  EXPECT_NE(pruned.out.find("  Korunuyor: " + seasons[0] + " — son meta kaydı: diag_analysis, eus_diag, transform\n"),
            std::string::npos);
  EXPECT_NE(pruned.out.find("  Silindi: " + seasons[1] + " ("), std::string::npos);
  EXPECT_NE(pruned.out.find("  Budama: 1 season silindi ("), std::string::npos);
  EXPECT_EQ(season_names(dir.path()), (std::vector<std::string>{seasons[0], seasons[2], seasons[3]}));

  const ChildResult after = run_vordak(plan);
  EXPECT_EQ(after.out, before.out) << "the next run decides as it would have without pruning";
  EXPECT_EQ(ordered_json::parse(run_vordak(with_dir({"history", "--json"}, dir.path())).out).size(), 3u);
  const std::string page = read_text(dir / "outputs" / "html" / "vrd_runs.html");
  EXPECT_EQ(page.find(seasons[1]), std::string::npos) << "the runs page follows the pruning";
  EXPECT_NE(page.find(seasons[3]), std::string::npos);
  EXPECT_EQ(run_vordak(with_dir({"prune"}, dir.path())).exit_status, 2) << "--keep is required";
}

TEST(Operations, AFailedStepRunIsRecordedAndKeepsTheLastSuccessOfItsMetrics) {
  TempDir dir;
  write_notebook(dir / "nb_02_transform.ipynb", {"params:DB_PATH = ''", "raise ValueError('bozuk')"});
  write_text(dir / "vordak.prom", "vordak_run_last_success_timestamp_seconds{work_dir=\"x\"} 1700000000.0\n");
  // From the environment, as a systemd unit sets it.
  const ChildResult failed = run_child(
      {"env", "VORDAK_METRICS_FILE=" + (dir / "vordak.prom").string(), VORDAK_BINARY, "step", "transform", "--work-dir", dir.path().string()});
  ASSERT_EQ(failed.exit_status, 1) << failed.err;

  const ordered_json history = ordered_json::parse(run_vordak(with_dir({"history", "--json"}, dir.path())).out);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(std::tuple(history[0]["durum"], history[0]["exit"]), std::tuple("hata", 1));
  const std::string metrics = read_text(dir / "vordak.prom");
  const std::string labels = "{work_dir=\"" + fs::canonical(dir.path()).string() + "\"";
  EXPECT_NE(metrics.find("vordak_run_last_success_timestamp_seconds" + labels + "} 1700000000.0\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("vordak_run_success" + labels + "} 0.0\n"), std::string::npos);
  EXPECT_NE(metrics.find("vordak_steps" + labels + ",status=\"hata\"} 1.0\n"), std::string::npos);
  EXPECT_NE(metrics.find("vordak_step_duration_seconds" + labels + ",step=\"transform\"} "), std::string::npos);
  const std::string table = run_vordak(with_dir({"history"}, dir.path())).out;
  EXPECT_NE(table.find(" hata     (manifest yok)\n"), std::string::npos) << table;
}

// A failure of the engine itself (here its manifest cannot be written) ends the run as
// "hata", and the metrics say so instead of keeping the last night's success.
TEST(Operations, AnEngineFailureIsRecordedWithItsMetrics) {
  TempDir dir;
  write_tiny_notebooks(dir.path());
  write_notebook(dir / "nb_03_marts.ipynb", {"params:x = ''",
                                             "import glob, os, shutil\n"
                                             "meta = os.path.join(sorted(glob.glob('seasons/S_*'))[-1], 'meta')\n"
                                             "shutil.rmtree(meta)\n"
                                             "open(meta, 'w').close()"});
  write_text(dir / "vordak.prom", "vordak_run_success{work_dir=\"x\"} 1.0\n");
  const ChildResult failed = run_vordak(
      with_dir({"run", "--skip-ingest", "--skip-ml", "--skip-backtest", "--metrics-file", (dir / "vordak.prom").string()}, dir.path()));
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err.find("vordak run: Dosya yazılamadı: "), std::string::npos) << failed.err;
  const fs::path season = *fs::directory_iterator(dir / "seasons");
  const ordered_json record = ordered_json::parse(read_text(season / "run.json"));
  EXPECT_EQ(std::tuple(record["durum"], record["exit"]), std::tuple("hata", 1));
  const std::string labels = "{work_dir=\"" + fs::canonical(dir.path()).string() + "\"";
  EXPECT_NE(read_text(dir / "vordak.prom").find("vordak_run_success" + labels + "} 0.0\n"), std::string::npos);
}

}  // namespace
}  // namespace vordak::testing
