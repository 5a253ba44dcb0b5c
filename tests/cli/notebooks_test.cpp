// The packaged notebooks: valid documents, a parameters cell that names every parameter
// the engine hands the step, in step with their sources, and consistent with the engine.

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/version.h"
#include "motor/step_table.h"
#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const fs::path kNotebooks = fs::path(VORDAK_SOURCE_DIR) / "notebooks";

std::string cell_source(const ordered_json& cell) {
  const ordered_json& source = cell.at("source");
  if (source.is_string()) return source.get<std::string>();
  std::string text;
  for (const auto& line : source) text += line.get<std::string>();
  return text;
}

bool tagged_parameters(const ordered_json& cell) {
  const auto metadata = cell.find("metadata");
  if (metadata == cell.end() || !metadata->contains("tags")) return false;
  for (const auto& tag : metadata->at("tags")) {
    if (tag == "parameters") return true;
  }
  return false;
}

// Names assigned at the start of a line of the cell: NAME = value.
std::set<std::string> assigned_names(const std::string& source) {
  static const std::regex assignment(R"(^([A-Z][A-Z0-9_]*)\s*=)", std::regex::multiline);
  std::set<std::string> names;
  for (std::sregex_iterator it(source.begin(), source.end(), assignment), end; it != end; ++it) names.insert((*it)[1]);
  return names;
}

TEST(Notebooks, EachStepsNotebookDeclaresEveryParameterARunHandsIt) {
  for (const motor::StepDefinition& definition : motor::step_table()) {
    SCOPED_TRACE(definition.kod + ": " + definition.nb);
    ASSERT_TRUE(fs::is_regular_file(kNotebooks / definition.nb));
    const ordered_json notebook = ordered_json::parse(read_text(kNotebooks / definition.nb));
    EXPECT_EQ(notebook.at("nbformat"), 4);
    EXPECT_EQ(notebook.at("metadata").at("kernelspec").at("name"), "python3");
    const ordered_json* first_code = nullptr;
    for (const auto& cell : notebook.at("cells")) {
      if (cell.at("cell_type") == "code") {
        first_code = &cell;
        break;
      }
    }
    ASSERT_NE(first_code, nullptr);
    ASSERT_TRUE(tagged_parameters(*first_code));
    std::vector<std::string> expected = motor::base_param_names();
    for (const std::string& name : motor::step_param_names(definition)) expected.push_back(name);
    const std::set<std::string> assigned = assigned_names(cell_source(*first_code));
    for (const std::string& name : expected) EXPECT_TRUE(assigned.contains(name)) << "missing default for " << name;
    // The code after the parameters cell does work: every notebook calls the tools.
    EXPECT_NE(notebook.dump().find("from vordak import"), std::string::npos);
  }
}

TEST(Notebooks, ConsistencyCheckFindsNothingAndSaysSoInOneLine) {
  const ChildResult result = run_vordak({"check"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "[OK] Sorun bulunamadı: 24 adım, vrd_pipeline.ipynb, versiyon " + std::string(kVersion) + "\n");
}

TEST(Notebooks, CommittedNotebooksMatchTheirSources) {
  TempDir dir;
  const ChildResult built =
      run_child({"/usr/bin/python3", (kNotebooks / "build_notebooks.py").string(), "--vordak", VORDAK_BINARY, "--out",
                 dir.path().string()});
  ASSERT_EQ(built.exit_status, 0) << built.err;
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(read_text(entry.path()), read_text(kNotebooks / name))
        << name << " is stale: run python3 notebooks/build_notebooks.py";
    ++compared;
  }
  EXPECT_EQ(compared, motor::step_table().size() + 1);
}

}  // namespace
}  // namespace vordak::testing
