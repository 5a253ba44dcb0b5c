#include "motor/parameter_injection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/io_error.h"
#include "core/memory_env.h"
#include "motor/bad_notebook.h"

namespace vordak::motor {
namespace {

ordered_json cell(const std::string& source, std::vector<std::string> tags = {}) {
  ordered_json metadata = ordered_json::object();
  if (!tags.empty()) metadata["tags"] = tags;
  return {{"cell_type", "code"}, {"execution_count", nullptr}, {"metadata", metadata},
          {"outputs", ordered_json::array()}, {"source", source}};
}

ordered_json notebook(std::vector<ordered_json> cells, int minor = 4) {
  return {{"cells", cells}, {"metadata", ordered_json::object()}, {"nbformat", 4}, {"nbformat_minor", minor}};
}

// Each cell as its source text, the injected one as "<injected>".
std::vector<std::string> layout(const ordered_json& document) {
  std::vector<std::string> sources;
  for (const auto& c : document["cells"]) {
    const auto& tags = c["metadata"].value("tags", ordered_json::array());
    const bool injected = !tags.empty() && tags[0] == kInjectedParametersTag;
    sources.push_back(injected ? "<injected>" : c["source"].get<std::string>());
  }
  return sources;
}

TEST(ParameterInjection, RendersValuesAsPythonLiteralsThatCannotBreakOut) {
  const struct {
    ParamValue value;
    std::string literal;
  } cases[] = {
      {std::int64_t{5}, "5"},
      {std::int64_t{-12}, "-12"},
      {std::string(""), R"("")"},
      {std::string("/data/db/vrd.duckdb"), R"("/data/db/vrd.duckdb")"},
      {std::string("a\"b"), R"("a\"b")"},
      {std::string(R"(C:\yol\)"), R"("C:\\yol\\")"},
      {std::string("x\"\nimport os\n\""), R"("x\"\nimport os\n\"")"},
      {std::string("\r\t\x01\x7f"), R"("\r\t\x01\x7f")"},
      {std::string("Çalışma/ĞÜŞİÖçğüşıö"), "\"Çalışma/ĞÜŞİÖçğüşıö\""},
      {std::string("a\u2028b\u0085"), R"("a\u2028b\x85")"},
      {std::string("bad\xff\xc3"), R"("bad\udcff\udcc3")"},
  };
  for (const auto& c : cases) EXPECT_EQ(python_literal(c.value), c.literal) << c.literal;
}

TEST(ParameterInjection, WritesParametersCommentThenOneAssignmentPerLine) {
  const NotebookParams parameters{{"DB_PATH", std::string("/w/db.duckdb")}, {"TEST_MUTA_COUNT", std::int64_t{5}}};
  EXPECT_EQ(parameters_source(parameters), "# Parameters\nDB_PATH = \"/w/db.duckdb\"\nTEST_MUTA_COUNT = 5\n");
  EXPECT_EQ(parameters_source({}), "# Parameters\n");

  for (const std::string name : {"", "1A", "A B", "X=1;import os;Y", "ÇIKTI"}) {
    EXPECT_THROW(parameters_source({{name, std::int64_t{1}}}), std::invalid_argument) << name;
  }
}

TEST(ParameterInjection, PlacesTheCellAsPapermillDoes) {
  const NotebookParams parameters{{"X", std::int64_t{1}}};
  const struct {
    const char* name;
    std::vector<ordered_json> cells;
    std::vector<std::string> expected;
  } cases[] = {
      {"after first parameters cell",
       {cell("a"), cell("p1", {"parameters"}), cell("b"), cell("p2", {"parameters"})},
       {"a", "p1", "<injected>", "b", "p2"}},
      {"parameters among other tags", {cell("p", {"x", "parameters"}), cell("b")}, {"p", "<injected>", "b"}},
      {"at the top when no parameters cell", {cell("a"), cell("b")}, {"<injected>", "a", "b"}},
      {"empty notebook", {}, {"<injected>"}},
      {"earlier injected cell replaced in place",
       {cell("p", {"parameters"}), cell("a"), cell("old", {"injected-parameters"}), cell("b")},
       {"p", "a", "<injected>", "b"}},
  };
  for (const auto& c : cases) {
    ordered_json document = notebook(c.cells);
    inject_parameters(document, parameters);
    EXPECT_EQ(layout(document), c.expected) << c.name;
  }
}

TEST(ParameterInjection, InjectedCellIsValidNbformatCodeCell) {
  ordered_json document = notebook({cell("a", {"parameters"})});
  inject_parameters(document, {{"A", std::string("x")}, {"N", std::int64_t{3}}});
  const ordered_json expected = {
      {"cell_type", "code"},
      {"execution_count", nullptr},
      {"metadata", {{"tags", {"injected-parameters"}}}},
      {"outputs", ordered_json::array()},
      {"source", {"# Parameters\n", "A = \"x\"\n", "N = 3\n"}},
  };
  EXPECT_EQ(document["cells"][1], expected);

  // nbformat 4.5 requires a unique cell id; 4.4 forbids one.
  ordered_json with_ids = notebook({cell("a")}, 5);
  with_ids["cells"][0]["id"] = "abc";
  inject_parameters(with_ids, {});
  const std::string id = with_ids["cells"][0]["id"];
  EXPECT_EQ(id.size(), 8u);
  EXPECT_NE(id, "abc");
}

TEST(ParameterInjection, NotebookTextIsNbformatLayout) {
  const ordered_json document = {{"nbformat", 4}, {"cells", {cell("ı = 1")}}, {"metadata", ordered_json::object()}};
  EXPECT_EQ(notebook_text(document),
            "{\n"
            " \"cells\": [\n"
            "  {\n"
            "   \"cell_type\": \"code\",\n"
            "   \"execution_count\": null,\n"
            "   \"metadata\": {},\n"
            "   \"outputs\": [],\n"
            "   \"source\": \"ı = 1\"\n"
            "  }\n"
            " ],\n"
            " \"metadata\": {},\n"
            " \"nbformat\": 4\n"
            "}\n");
}

// Each way a notebook cannot be had is an error of its own kind, naming the file.
TEST(ReadNotebook, TellsAMissingFileAFolderAndBrokenJsonApart) {
  MemoryEnv env;
  env.create_directories("/w/folder.ipynb");
  env.write_file_atomic("/w/broken.ipynb", "{\"cells\": [");
  const auto refusal = [&](const fs::path& path) -> std::pair<std::string, fs::path> {
    try {
      read_notebook(path, env);
    } catch (const IoError& error) {
      return {error.code() == std::errc::no_such_file_or_directory ? "missing" : "io", error.path()};
    } catch (const FileRefused& error) {
      return {"refused", error.path()};
    } catch (const BadNotebook& error) {
      return {"bad", error.path()};
    }
    return {};
  };
  const std::pair<std::string, fs::path> cases[] = {
      {"missing", "/w/missing.ipynb"}, {"refused", "/w/folder.ipynb"}, {"bad", "/w/broken.ipynb"}};
  for (const auto& [kind, path] : cases) EXPECT_EQ(refusal(path), std::pair(kind, path));
  ordered_json number = 3;
  EXPECT_THROW(inject_parameters(number, {}), BadNotebook);
}

}  // namespace
}  // namespace vordak::motor
