#include "motor/installed_notebooks.h"

#include <gtest/gtest.h>

#include "core/memory_env.h"
#include "motor/fingerprint.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::write_text;

TEST(InstalledNotebooks, TellsCurrentMissingOldEditedAndUnrecordedApart) {
  MemoryEnv env;
  const fs::path package = "/package", work = "/work";
  for (const std::string& name : package_notebook_names()) write_text(env, package / name, "v2 " + name);
  for (const std::string& name : package_notebook_names()) write_text(env, work / name, "v2 " + name);
  const std::string old = "nb_02_transform.ipynb", edited = "nb_03_marts.ipynb", unrecorded = "vrd_pipeline.ipynb",
                    missing = "nb_04a_ml_features.ipynb", edited_old = "nb_05a_backtest_eus.ipynb";
  write_text(env, work / old, "v1");
  write_text(env, work / edited, "v2 with a local edit");
  write_text(env, work / edited_old, "v1 with a local edit");
  write_text(env, work / unrecorded, "from before records");
  env.remove_file(work / missing);
  InstallRecord record;
  for (const std::string& name : package_notebook_names()) record[name] = {content_fingerprint("v2 " + name), "1.0.0"};
  record[old] = record[edited_old] = {content_fingerprint("v1"), "0.9.0"};
  record.erase(unrecorded);
  write_install_record(work, record, env);
  EXPECT_EQ(read_install_record(work, env).at(old).versiyon, "0.9.0");

  std::map<std::string, std::pair<NotebookState, std::string>> differing;
  for (const InstalledNotebook& notebook : installed_notebooks(work, package, env)) {
    if (notebook.state != NotebookState::kCurrent) differing[notebook.name] = {notebook.state, notebook.installed_version};
  }
  const std::map<std::string, std::pair<NotebookState, std::string>> expected = {
      {old, {NotebookState::kOld, "0.9.0"}},        {edited, {NotebookState::kEdited, ""}},
      {edited_old, {NotebookState::kEdited, ""}},   {unrecorded, {NotebookState::kUnrecorded, ""}},
      {missing, {NotebookState::kMissing, ""}},
  };
  EXPECT_EQ(differing, expected);

  write_text(env, work / kInstallRecord, "{not json");
  EXPECT_TRUE(read_install_record(work, env).empty()) << "an unparsable record is none";
}

TEST(InstalledNotebooks, AWorkingDirectoryIsKnownByWhatInitRunsAndRecordsLeave) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},          {"notes.txt", false},  {"db/.nb_version", true},        {"db/.nb_kurulum.json", true},
      {"local_data_paths.json", true}, {"data_paths.json", true}, {"seasons/x", true}, {"nb_02_transform.ipynb", true},
      {"db/vrd.duckdb", false},
  };
  for (const auto& [file, expected] : cases) {
    MemoryEnv env;
    env.create_directories("/work");
    if (!file.empty()) write_text(env, "/work/" + file, "x");
    EXPECT_EQ(is_work_dir("/work", env), expected) << file;
  }
}

}  // namespace
}  // namespace vordak::motor
