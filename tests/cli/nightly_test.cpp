// The plain nightly run, as the timer and the cron line start it, on a small generated
// portfolio with the real notebooks and kernel.

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "tests/cli/cli_test_support.h"

namespace vordak::testing {
namespace {

// Each processed step's key and its decision line ("ATLANDI — ...", "ÇALIŞTIRILIYOR — ...").
std::vector<std::pair<std::string, std::string>> decisions(const std::string& out) {
  const std::string header = "\n  ── ";
  std::vector<std::pair<std::string, std::string>> found;
  for (std::size_t at = out.find(header); at != std::string::npos; at = out.find(header, at + 1)) {
    const std::size_t key = at + header.size();
    const std::size_t line = out.find('\n', out.find('\n', at + 1) + 1) + 3;
    found.emplace_back(out.substr(key, out.find(" | ", key) - key), out.substr(line, out.find('\n', line) - line));
  }
  return found;
}

std::vector<std::string> executed(const std::string& out) {
  std::vector<std::string> keys;
  for (const auto& [kod, decision] : decisions(out)) {
    if (decision.starts_with("ÇALIŞTIRILIYOR")) keys.push_back(kod);
  }
  return keys;
}

std::string top_prediction(const fs::path& db) {
  const ChildResult result = run_vordak({"sql", "--db", db.string(), "--csv", "SELECT max(yi_prob) AS p FROM ml_yi_tahmin"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out.substr(2, result.out.size() - 3);
}

// Every published file but the runs page, which records every run.
std::map<std::string, std::string> published(const fs::path& outputs) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(outputs)) {
    if (entry.is_regular_file() && entry.path().filename() != "vrd_runs.html") files[entry.path().string()] = read_text(entry.path());
  }
  return files;
}

// A dashboard page's text followed by that of the data files it names (its firms).
std::string page_with_data(const fs::path& page) {
  std::string text = read_text(page);
  const std::string folder_member = "\"klasor\":\"";
  const std::size_t at = text.find(folder_member);
  if (at == std::string::npos) return text;
  const std::size_t start = at + folder_member.size();
  const fs::path generation = page.parent_path() / text.substr(start, text.find('"', start) - start);
  for (const auto& file : fs::directory_iterator(generation)) text += read_text(file.path());
  return text;
}

TEST(Nightly, TheFirstNightWorksAnUnchangedNightRunsNothingAndThePagesShowTheRunsOwnPredictions) {
  TempDir dir;
  const fs::path extracts = dir / "extracts";
  const fs::path work = dir / "work";
  ASSERT_EQ(run_vordak({"demo", "--no-run", "--work-dir", extracts.string(), "--firms", "500", "--periods", "6"}).exit_status, 0);
  ASSERT_EQ(run_vordak({"init", "--work-dir", work.string()}).exit_status, 0);
  write_text(work / "local_data_paths.json", read_text(extracts / "local_data_paths.json"));
  const std::vector<std::string> nightly = {"run", "--work-dir", work.string()};

  const ChildResult first = run_vordak(nightly);
  ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("  ÇALIŞTIRILIYOR — önkoşul (ml_features) — hiç çalışmamış\n"), std::string::npos) << first.out;

  const ChildResult second = run_vordak(nightly);
  ASSERT_EQ(second.exit_status, 0) << second.out << second.err;
  EXPECT_EQ(decisions(second.out).size(), 18u) << second.out;
  for (const auto& [kod, decision] : decisions(second.out)) {
    EXPECT_TRUE(decision.starts_with("ATLANDI — uyumlu (")) << kod << ": " << decision;
  }

  // A re-exported extract: exactly the steps below its source run, the marts last.
  const fs::path extract = extracts / "external_data" / "kik_data_ham_csv" / "kik_izleme_202301.csv";
  write_text(extract, read_text(extract));
  const ChildResult third = run_vordak(nightly);
  ASSERT_EQ(third.exit_status, 0) << third.out << third.err;
  EXPECT_EQ(executed(third.out), (std::vector<std::string>{"ingest_kik", "transform", "marts", "ml_features", "ml_train",
                                                            "ml_predict", "backtest_eus", "backtest_yis", "backtest_ml",
                                                            "marts"}));

  // Pages made from other predictions take up the run's new ones in the same run.
  const fs::path db = work / "db" / "vrd.duckdb";
  const std::string top = top_prediction(db);
  ASSERT_EQ(run_vordak({"sql", "--db", db.string(), "UPDATE ml_yi_tahmin SET yi_prob = 0.123457"}).exit_status, 0);
  ASSERT_EQ(run_vordak({"marts", "--db", db.string(), "--output-dir", (work / "outputs" / "json").string()}).exit_status, 0);
  const ChildResult forced = run_vordak({"run", "--work-dir", work.string(), "--skip-ingest", "--force", "ml_predict"});
  ASSERT_EQ(forced.exit_status, 0) << forced.out << forced.err;
  EXPECT_EQ(executed(forced.out), (std::vector<std::string>{"ml_predict", "marts"}));
  EXPECT_EQ(decisions(forced.out).back().second, "ÇALIŞTIRILIYOR — cascade (ml_predict)");
  for (const char* edition : {"vrd_dashboard_yonetici.html", "vrd_dashboard_admin.html"}) {
    const std::string page = page_with_data(work / "outputs" / "html" / edition);
    EXPECT_NE(page.find(top), std::string::npos) << edition << " lacks the top prediction " << top;
    EXPECT_EQ(page.find("0.123457"), std::string::npos) << edition << " still shows the older predictions";
  }

  // The backtest's last fold trains on the champion's own rows and takes the champion; a
  // fit of its own, once the inventory no longer vouches for those rows, gives the same.
  const fs::path third_season = work / "seasons" / third.out.substr(third.out.find("Season: S_") + 8, 28);
  EXPECT_NE(read_text(third_season / "logs" / "adim_backtest_ml_nb_05c_backtest_ml.ipynb")
                .find("eğitim verisi şampiyonunkiyle aynı, şampiyon yi-xgb-"),
            std::string::npos);
  const std::vector<std::string> backtest_rows = {"sql", "--db", db.string(), "--csv",
                                                  "SELECT * FROM backtest_ml_tahmin ORDER BY ALL"};
  const std::string reused = run_vordak(backtest_rows).out;
  const ordered_json pointer = ordered_json::parse(read_text(work / "ml_models" / "sampiyon.json"));
  const std::string champion = pointer.at("model_id");
  const fs::path description = work / "ml_models" / champion / "model.json";
  ordered_json model = ordered_json::parse(read_text(description));
  // Both models of one training share its time: the inventory lists them side by side.
  EXPECT_EQ(ordered_json::parse(read_text(work / "ml_models" / pointer.at("rakip").get<std::string>() / "model.json"))
                .at("egitim_zamani"),
            model.at("egitim_zamani"));
  model["veri_hash"] = "başka veri";
  write_text(description, model.dump(2));
  ASSERT_EQ(run_vordak({"run", "--work-dir", work.string(), "--skip-ingest", "--force", "backtest_ml"}).exit_status, 0);
  EXPECT_EQ(run_vordak(backtest_rows).out, reused);

  // A month deleted from the monitoring extract: the run stops before the transform, says
  // which check, and leaves the published set as it was.
  const auto before = published(work / "outputs");
  fs::remove(extracts / "external_data" / "kik_data_ham_csv" / "kik_izleme_202303.csv");
  const ChildResult blocked = run_vordak(nightly);
  EXPECT_EQ(blocked.exit_status, 1) << blocked.out << blocked.err;
  EXPECT_NE(blocked.err.find("ingest_kik (veri kontrolü: kik_data_ham_csv:eksik_donem)"), std::string::npos) << blocked.err;
  EXPECT_NE(blocked.out.find("── transform | Bronze → Silver (EUS patch dahil) ──\n  nb_02_transform.ipynb"), std::string::npos);
  EXPECT_NE(blocked.out.find("  ATLANDI — engellendi (ingest_kik)\n"), std::string::npos) << blocked.out;
  EXPECT_TRUE(published(work / "outputs") == before) << "a blocked load changed the published outputs";

  // An operator who has looked at the data accepts the checks for one run; the record and
  // the runs page say who did.
  const std::vector<std::string> accepted = {"run", "--work-dir", work.string(), "--accept", "kik_data_ham_csv:eksik_donem",
                                             "--accept", "donem_uyumu"};
  const ChildResult accepting = run_vordak(accepted);
  ASSERT_EQ(accepting.exit_status, 0) << accepting.out << accepting.err;
  EXPECT_NE(accepting.out.find("  [WARN] kik_data_ham_csv: eksik_donem kabul edildi — "), std::string::npos) << accepting.out;
  const fs::path season = work / "seasons" / accepting.out.substr(accepting.out.find("Season: S_") + 8, 28);
  const ordered_json record = ordered_json::parse(read_text(season / "meta" / "adim_ingest_kik.json"));
  EXPECT_EQ(record.at("veri_kalitesi").at("kabul").at(0).at("kontrol"), "kik_data_ham_csv:eksik_donem") << record.dump();
  EXPECT_NE(read_text(work / "outputs" / "html" / "vrd_runs.html").find("<td>kabul: kik_data_ham_csv:eksik_donem — "),
            std::string::npos);
  // The administrator edition's "Veri kalitesi" card lists it too.
  EXPECT_NE(read_text(work / "outputs" / "html" / "vrd_dashboard_admin.html")
                .find(R"("kaynak":"kik_data_ham_csv","kontrol":"eksik_donem","sonuc":"kabul")"),
            std::string::npos);
}

}  // namespace
}  // namespace vordak::testing
