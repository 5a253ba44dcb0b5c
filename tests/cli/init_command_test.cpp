#include <gtest/gtest.h>

#include "core/version.h"
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

TEST(InitCommand, ReplacesAnOlderCopyAndItsVersion) {
  TempDir dir;
  write_text(dir / "nb_02_transform.ipynb", "{}");
  write_text(dir / "db" / ".nb_version", "0.9.0\n");
  ASSERT_EQ(run_vordak({"init", "--work-dir", dir.path().string()}).exit_status, 0);
  EXPECT_EQ(read_text(dir / "nb_02_transform.ipynb"),
            read_text(fs::path(VORDAK_SOURCE_DIR) / "notebooks" / "nb_02_transform.ipynb"));
  EXPECT_EQ(read_text(dir / "db" / ".nb_version"), std::string(kVersion) + "\n");
}

}  // namespace
}  // namespace vordak::testing
