// `vordak demo --no-run`: the source extracts and the data-source path file. A whole demo
// run takes about a minute and is left to `make demo`.

#include <gtest/gtest.h>

#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const std::vector<std::string> kDataSourceKeys = {
    "kik_data_ham_csv", "kredi_db",       "yis_tahmin_data", "eus_tahmin_data",   "eus_hedef_muta",
    "eus_sql_kapsam_muta", "statik_db",   "yis_train_data",  "rkd_donem_data",    "memzuc_data_donem",
    "raporlama_depo"};

std::string query(const std::string& sql) {
  const ChildResult result = run_vordak({"sql", "--db", ":memory:", "--csv", sql});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

TEST(DemoCommand, WritesAnExtractForEveryDataSourceKeyAndThePathFile) {
  TempDir dir;
  const fs::path work = dir / "demo";
  const ChildResult result =
      run_vordak({"demo", "--no-run", "--work-dir", work.string(), "--firms", "40", "--periods", "5"});
  ASSERT_EQ(result.exit_status, 0) << result.err;

  const ordered_json paths = ordered_json::parse(read_text(work / "local_data_paths.json"));
  std::vector<std::string> keys;
  for (const auto& [key, value] : paths.items()) {
    keys.push_back(key);
    EXPECT_EQ(value, (work / "external_data" / key).string());
    EXPECT_FALSE(fs::is_empty(value.get<std::string>())) << key;
  }
  EXPECT_EQ(keys, kDataSourceKeys);
  EXPECT_TRUE(fs::exists(work / "vrd_pipeline.ipynb"));
  EXPECT_FALSE(fs::exists(work / "external_data" / ".portfolio.duckdb"));

  const std::string root = (work / "external_data").string();
  // Every firm and period in the monitoring extract, one file per period.
  EXPECT_EQ(query("SELECT count(*) AS n, count(DISTINCT filename) AS files FROM read_csv('" + root +
                  "/kik_data_ham_csv/*.csv', delim=';', header=true, filename=true)"),
            "n,files\n200,5\n");
  // The EUS extract fills exactly the monitoring extract's missing scores.
  EXPECT_EQ(query("SELECT count(*) AS unpatched FROM read_csv('" + root +
                  "/kik_data_ham_csv/*.csv', delim=';', header=true, all_varchar=true) k "
                  "JOIN read_csv('" + root + "/eus_tahmin_data/*.csv', delim=';', header=true, all_varchar=true) e "
                  "USING (MUTA_NO, DONEM) WHERE k.VRD_SKOR IS DISTINCT FROM e.VRD_SKOR AND k.VRD_SKOR IS NOT NULL"),
            "unpatched\n0\n");
  EXPECT_EQ(query("SELECT count(*) AS n FROM read_parquet('" + root + "/kredi_db/*.parquet')"), "n\n200\n");
  EXPECT_EQ(query("SELECT count(DISTINCT DONEM) AS periods FROM read_parquet('" + root + "/rkd_donem_data/*.parquet')"),
            "periods\n5\n");
  EXPECT_EQ(query("SELECT count(*) AS firms FROM read_csv('" + root +
                  "/statik_db/statik_firma.txt', delim='|', header=true)"),
            "firms\n40\n");
}

TEST(DemoCommand, ReplacesOnlyADirectoryThatADemoMade) {
  TempDir dir;
  const fs::path work = dir / "work";
  write_text(work / "local_data_paths.json", "{\"kredi_db\": \"/mnt/z/kredi\"}");
  const std::vector<std::string> demo = {"demo", "--no-run", "--work-dir", work.string(), "--firms", "10", "--periods", "4"};
  const ChildResult refused = run_vordak(demo);
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("--work-dir: " + work.string() + " is not empty and not a demo directory"), std::string::npos)
      << refused.err;
  EXPECT_EQ(read_text(work / "local_data_paths.json"), "{\"kredi_db\": \"/mnt/z/kredi\"}");

  fs::remove_all(work);
  ASSERT_EQ(run_vordak(demo).exit_status, 0);
  write_text(work / "stale.txt", "from the earlier demo");
  const ChildResult again = run_vordak(demo);
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_FALSE(fs::exists(work / "stale.txt")) << "an earlier demo's directory is replaced whole";
  EXPECT_TRUE(fs::exists(work / ".vordak-demo"));
}

TEST(DemoCommand, RefusesTooFewPeriods) {
  TempDir dir;
  const ChildResult result = run_vordak({"demo", "--no-run", "--work-dir", dir.path().string(), "--periods", "3"});
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find("--periods must be at least 4"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace vordak::testing
