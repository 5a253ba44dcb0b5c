#include <gtest/gtest.h>

#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/work_dir_lock.h"
#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

std::vector<std::string> notebook_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".ipynb") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(InitCommand, CopiesTheRegistryNotebooksAndTheHeaderAndRecordsTheVersion) {
  TempDir dir;
  const fs::path work = dir / "work";
  const ChildResult result = run_vordak({"init", "--work-dir", work.string()});
  ASSERT_EQ(result.exit_status, 0) << result.err;

  const std::vector<std::string> copied = notebook_names(work);
  EXPECT_EQ(copied.size(), 25u);
  EXPECT_EQ(copied, notebook_names(fs::path(VORDAK_SOURCE_DIR) / "notebooks"));
  EXPECT_EQ(read_text(work / "db" / ".nb_version"), std::string(kVersion) + "\n");
  EXPECT_NE(result.out.find("  25 notebook kopyalandı: "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(".nb_version: " + std::string(kVersion) + "\n"), std::string::npos) << result.out;
}

TEST(InitCommand, LeavesDifferingNotebooksAloneUnlessForced) {
  TempDir dir;
  const fs::path packaged = fs::path(VORDAK_SOURCE_DIR) / "notebooks";
  write_text(dir / "nb_02_transform.ipynb", "{}");
  write_text(dir / "nb_03_marts.ipynb", read_text(packaged / "nb_03_marts.ipynb"));
  write_text(dir / "db" / ".nb_version", "0.9.0\n");

  const ChildResult kept = run_vordak({"init", "--work-dir", dir.path().string()});
  EXPECT_EQ(kept.exit_status, 0) << kept.err;
  EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"), "{}");
  EXPECT_EQ(read_text(dir / "db" / ".nb_version"), "0.9.0\n") << "a mixed set keeps the engine's version warning";
  EXPECT_NE(kept.out.find("  24 notebook kopyalandı: "), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("\n  [!] Paketteki sürümden farklı, dokunulmadı: nb_02_transform.ipynb\n"), std::string::npos)
      << kept.out;
  EXPECT_EQ(kept.out.find("nb_03_marts.ipynb"), std::string::npos) << "an identical copy is not a difference";

  const ChildResult forced = run_vordak({"init", "--work-dir", dir.path().string(), "--force"});
  EXPECT_EQ(forced.exit_status, 0) << forced.err;
  EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"), read_text(packaged / "nb_02_transform.ipynb"));
  EXPECT_EQ(read_text(dir / "db" / ".nb_version"), std::string(kVersion) + "\n");
  EXPECT_EQ(forced.out.find("[!]"), std::string::npos) << forced.out;
}

TEST(InitCommand, RefusesWhileARunHoldsTheDirectory) {
  TempDir dir;
  write_text(dir / "nb_02_transform.ipynb", "{}");
  {
    const motor::WorkDirLock running(dir.path(), Env::system());
    const ChildResult refused = run_vordak({"init", "--work-dir", dir.path().string(), "--force"});
    EXPECT_EQ(refused.exit_status, 75);
    EXPECT_TRUE(refused.err.starts_with("vordak init: çalışma dizini başka bir çalıştırmada: " + dir.path().string()))
        << refused.err;
    EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"), "{}") << "a running step's notebook is left alone";
  }
  EXPECT_EQ(run_vordak({"init", "--work-dir", dir.path().string(), "--force"}).exit_status, 0);
  EXPECT_NE(read_text(dir / "nb_02_transform.ipynb"), "{}");
}

TEST(InitCommand, UpgradeReplacesUntouchedOldNotebooksAndCheckNamesEveryDifference) {
  TempDir dir;
  const std::string work = dir.path().string();
  ASSERT_EQ(run_vordak({"init", "--work-dir", work}).exit_status, 0);
  const ChildResult clean = run_vordak({"check", "--work-dir", work});
  EXPECT_EQ(clean.exit_status, 0) << clean.out;
  EXPECT_TRUE(clean.out.starts_with("[OK] Sorun bulunamadı: 24 adım, ")) << clean.out;

  // An older package installed transform (its record says so); marts was edited since;
  // ml_train was deleted.
  const fs::path packaged = fs::path(VORDAK_SOURCE_DIR) / "notebooks";
  write_text(dir / "nb_02_transform.ipynb", "{\"old\": true}");
  ordered_json record = ordered_json::parse(read_text(dir / "db" / ".nb_kurulum.json"));
  record["notebooklar"]["nb_02_transform.ipynb"] = {{"hash", motor::content_fingerprint("{\"old\": true}")}, {"versiyon", "0.9.0"}};
  write_text(dir / "db" / ".nb_kurulum.json", record.dump(2));
  write_text(dir / "nb_03_marts.ipynb", read_text(packaged / "nb_03_marts.ipynb") + " ");
  fs::remove(dir / "nb_04b_ml_train.ipynb");

  const ChildResult checked = run_vordak({"check", "--work-dir", work});
  EXPECT_EQ(checked.exit_status, 1);
  for (const std::string& line : std::vector<std::string>{"[EKSIK NB] ml_train: nb_04b_ml_train.ipynb → " + work + "/nb_04b_ml_train.ipynb bulunamadı\n",
                                 "[ESKİ NB] nb_02_transform.ipynb: 0.9.0 kurulumu, paket 1.0.0 (vordak init --upgrade)\n",
                                 "[DEĞİŞMİŞ NB] nb_03_marts.ipynb: kurulumdan sonra değiştirilmiş\n"}) {
    EXPECT_NE(checked.out.find(line), std::string::npos) << line << checked.out;
  }
  // The engine runs no packaged copy in place of a missing one.
  const ChildResult plan = run_vordak({"plan", "--work-dir", work});
  EXPECT_NE(plan.out.find("  ml_train               NB YOK"), std::string::npos) << plan.out;

  const ChildResult kept = run_vordak({"init", "--work-dir", work});
  EXPECT_NE(kept.out.find("  [!] Eski sürüm (0.9.0 kurulumu), dokunulmadı: nb_02_transform.ipynb\n"), std::string::npos) << kept.out;
  EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"), "{\"old\": true}");

  const ChildResult upgraded = run_vordak({"init", "--work-dir", work, "--upgrade"});
  EXPECT_EQ(upgraded.exit_status, 0) << upgraded.err;
  EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"), read_text(packaged / "nb_02_transform.ipynb"));
  EXPECT_TRUE(fs::exists(dir / "nb_04b_ml_train.ipynb"));
  EXPECT_NE(upgraded.out.find("\n  [!] Kurulumdan sonra değiştirilmiş, dokunulmadı: nb_03_marts.ipynb\n"), std::string::npos)
      << upgraded.out;
  EXPECT_EQ(upgraded.out.find("nb_02_transform"), std::string::npos) << upgraded.out;
  const ChildResult after = run_vordak({"check", "--work-dir", work});
  EXPECT_EQ(after.exit_status, 1);
  EXPECT_EQ(after.out.find("[ESKİ NB]"), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("[DEĞİŞMİŞ NB] nb_03_marts.ipynb"), std::string::npos) << "a local edit stays until --force";
  EXPECT_EQ(run_vordak({"init", "--work-dir", work, "--upgrade", "--force"}).exit_status, 2);
}

}  // namespace
}  // namespace vordak::testing
