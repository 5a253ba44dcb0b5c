#include "pipeline/backtests.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::TempDir;

struct Outcome {
  std::string console;
  std::string result;
};

template <typename Builder>
Outcome run(const std::string& setup, Builder build) {
  TempDir dir;
  Connection con((dir / "b.duckdb").string(), Connection::Open::kCreate);
  if (!setup.empty()) con.execute(setup);
  StringSink sink;
  const ordered_json result = build(con, sink);
  return {sink.text(), to_json_text(result, JsonWriter::Layout::kCompact)};
}

// The means of the periods stay as they are; beside them, the pooled precision and recall
// of all the periods' firms (eus: 5 TP against 1 FP and 1 FN).
TEST(BacktestSummary, SumsAndRoundedMeansPerModel) {
  const struct {
    const char* name;
    std::string setup;
    Outcome expected;
  } cases[] = {
      {"no tables", "", {"  [BACKTEST] Tablo yok, atlanıyor\n", R"({"eus":null,"yis":null,"ml":null})"}},
      {"eus without tn, empty yis, ml without auc",
       "CREATE TABLE backtest_eus (donem INTEGER, tp INTEGER, fp INTEGER, fn DOUBLE, precision_val DOUBLE, "
       "recall_val DOUBLE, f1 DOUBLE);"
       "INSERT INTO backtest_eus VALUES (202402, 3, 1, 0.6, 0.12345, NULL, 0.5), (202401, 2, NULL, 0.6, 0.12355, 0.2, 0.25);"
       "CREATE TABLE backtest_yis (donem INTEGER, tp INTEGER);"
       "CREATE TABLE backtest_ml (fold INTEGER, precision_val DOUBLE, recall_val DOUBLE, f1 DOUBLE);"
       "INSERT INTO backtest_ml VALUES (1, 0.5, 0.5, 0.5)",
       {"  [BACKTEST] Özet: eus, ml\n",
        R"({"eus":{"donem_metrikleri":[{"donem":202401,"tp":2,"fp":null,"fn":0.6,"precision_val":0.12355,"recall_val":0.2,"f1":0.25},)"
        R"({"donem":202402,"tp":3,"fp":1,"fn":0.6,"precision_val":0.12345,"recall_val":null,"f1":0.5}],)"
        R"("toplam_donem":2,"toplam_tp":5,"toplam_fp":1,"toplam_fn":1,"toplam_tn":0,"ort_precision":0.1235,)"
        R"("ort_recall":0.2,"ort_f1":0.375,"havuz_precision":0.8333,"havuz_recall":0.8333},"yis":null,)"
        R"("ml":{"fold_detay":[{"fold":1,"precision_val":0.5,"recall_val":0.5,"f1":0.5}],"toplam_fold":1,"ort_auc":null,)"
        R"("ort_precision":0.5,"ort_recall":0.5,"ort_f1":0.5,"havuz_precision":null,"havuz_recall":null}})"}},
      {"a metric that is not a number",
       "CREATE TABLE backtest_yis (donem INTEGER, tp VARCHAR); INSERT INTO backtest_yis VALUES (1, 'x')",
       {"  [BACKTEST] yis: column tp is not numeric: x\n  [BACKTEST] Tablo yok, atlanıyor\n",
        R"({"eus":null,"yis":null,"ml":null})"}},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.setup, build_backtest_summary);
    EXPECT_EQ(outcome.console, c.expected.console) << c.name;
    EXPECT_EQ(outcome.result, c.expected.result) << c.name;
  }
}

TEST(BacktestFirmaLists, SplitsCategoriesAndContainsFailures) {
  const std::string setup =
      "CREATE TABLE backtest_eus_firma (entity_id BIGINT, donem INTEGER, skor INTEGER);"
      "INSERT INTO backtest_eus_firma VALUES (1, 1, 5);"
      "CREATE TABLE backtest_yis_firma (entity_id BIGINT, donem INTEGER, kategori VARCHAR);"
      "INSERT INTO backtest_yis_firma VALUES (1, 1, 'TN'), (2, 1, 'TN');"
      "CREATE TABLE backtest_ml_firma (entity_id BIGINT, donem INTEGER, kategori VARCHAR, p DOUBLE);"
      "INSERT INTO backtest_ml_firma VALUES (2, 202402, 'FN', 0.1), (1, 202402, 'TP', 0.9), (1, 202401, 'FP', 0.7),"
      " (3, 202401, 'TN', 0.0), (2, 202401, 'TP', 0.8)";
  const Outcome outcome = run(setup, build_backtest_firma_lists);
  EXPECT_TRUE(outcome.console.starts_with("  [BACKTEST] eus firma: Binder Error: "));
  EXPECT_TRUE(outcome.console.ends_with("\n  [BACKTEST] ml firma: TP=2, FN=1, FP=1\n")) << outcome.console;
  EXPECT_EQ(outcome.result,
            R"({"eus":null,"yis":null,"ml":{"tp":[{"entity_id":1,"donem":202402,"kategori":"TP","p":0.9},)"
            R"({"entity_id":2,"donem":202401,"kategori":"TP","p":0.8}],)"
            R"("fp":[{"entity_id":1,"donem":202401,"kategori":"FP","p":0.7}],)"
            R"("fn":[{"entity_id":2,"donem":202402,"kategori":"FN","p":0.1}]}})");
  const Outcome none = run("", build_backtest_firma_lists);
  EXPECT_EQ(none.console, "");
  EXPECT_EQ(none.result, R"({"eus":null,"yis":null,"ml":null})");
}

}  // namespace
}  // namespace vordak::pipeline
