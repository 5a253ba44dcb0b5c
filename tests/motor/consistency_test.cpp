#include "motor/consistency.h"

#include <gtest/gtest.h>

#include "core/memory_env.h"
#include "core/version.h"
#include "motor/step_table.h"
#include "test_support.h"

namespace vordak::motor {
namespace {

namespace fs = std::filesystem;

std::string table_of(const std::vector<std::string>& keys) {
  std::string table = "| Adım | Notebook |\n|---|---|\n";
  for (const auto& key : keys) table += "| `" + key + "` | x |\n";
  return table;
}

TEST(HeaderScan, VersionDigitsAreAsciiAndKeysMayHoldAnyLetter) {
  EXPECT_EQ(header_version("Motor Orchestrator v2.4.0 and v3.0.0"), "2.4.0");
  EXPECT_EQ(header_version("vv1.22.333x"), "1.22.333");
  EXPECT_EQ(header_version("only v2.4 here"), std::nullopt);
  EXPECT_EQ(header_version("v١.٢.٣ v٢.4.0"), std::nullopt);  // Arabic-Indic digits are no digits here
  EXPECT_EQ(header_table_keys("| `ingest_kik` | `nb_01.ipynb` |\n| `trailing` end\n| plain | `çalış`\u3000| `a`\t|`b`  |`c—d`\u00a0|"),
            (std::set<std::string>{"ingest_kik", "çalış", "a", "b", "c—d"}));
}

// The installed notebooks and the header notebook in memory: every registry notebook
// installed and runnable unless a test says otherwise.
class ConsistencyTest : public ::testing::Test {
 protected:
  ConsistencyTest() {
    env.create_directories(installed);
    for (const StepDefinition& step : step_table()) write(installed / step.nb, {"params:x = 1"});
  }
  void write(const fs::path& path, const std::vector<std::string>& cells) {
    env.write_file_atomic(path, testing::notebook(cells).dump(1));
  }
  std::vector<std::string> check_header(const fs::path& header) {
    return tutarlilik_kontrol(env, header.string(), installed);
  }
  // The header notebook, given by absolute path, with the given markdown cells.
  std::vector<std::string> check(const std::vector<std::string>& cells) {
    write(dir / "vrd_pipeline.ipynb", cells);
    return check_header(dir / "vrd_pipeline.ipynb");
  }
  MemoryEnv env;
  const fs::path dir = "/is";
  const fs::path installed = "/is/kurulu";
};

TEST_F(ConsistencyTest, ReportsHeaderProblemsWithTheirTags) {
  const std::vector<std::string> all = step_keys();
  const std::string version = std::string("v") + kVersion;
  EXPECT_EQ(check({"md:# Motor Orchestrator " + version + "\n" + table_of(all)}), std::vector<std::string>{});

  std::vector<std::string> fewer(all.begin(), all.end() - 2);
  fewer.push_back("durum");
  EXPECT_EQ(check({"x = 'Motor Orchestrator'", "md:# Motor Orchestrator v0.9.9\n" + table_of(fewer),
                   "md:Motor Orchestrator v9.9.9"}),
            (std::vector<std::string>{
                std::string("[VERSİYON] pipeline header v0.9.9 != paket v") + kVersion,
                "[TABLO EKSİK] Registry'de var, header tablosunda yok: ['diag_risk', 'diag_unvan']",
                "[TABLO FAZLA] Header tablosunda var, registry'de yok: ['durum']"}));

  EXPECT_EQ(check({"Motor Orchestrator in code only"}),
            std::vector<std::string>{"[PPLN HEADER] Motor Orchestrator başlığı bulunamadı"});
  EXPECT_EQ(check({"md:Motor Orchestrator v2.4\n" + table_of(all)}),
            std::vector<std::string>{"[VERSİYON] pipeline header'da versiyon bulunamadı"});
}

TEST_F(ConsistencyTest, NotebooksThatCannotBeRunAreListed) {
  write(installed / "nb_02_transform.ipynb", {"DB_PATH = 'prod'"});
  env.write_file_atomic(installed / "nb_03_marts.ipynb", "{trunc");
  env.remove_file(installed / "nb_07b_diag_risk.ipynb");
  const std::vector<std::string> problems =
      check({"md:# Motor Orchestrator v" + std::string(kVersion) + "\n" + table_of(step_keys())});
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0], "[NB HATALI] transform: notebook'ta \"parameters\" etiketli kod hücresi yok: " +
                             (installed / "nb_02_transform.ipynb").string() +
                             " (çalıştırmanın parametreleri bu hücreden sonra verilir)");
  EXPECT_TRUE(problems[1].starts_with("[NB HATALI] marts: notebook geçerli JSON değil: ")) << problems[1];
  EXPECT_EQ(problems[2], "[EKSIK NB] diag_risk: nb_07b_diag_risk.ipynb → " +
                             (installed / "nb_07b_diag_risk.ipynb").string() + " bulunamadı");
}

TEST_F(ConsistencyTest, MissingOrBrokenHeaderNotebook) {
  EXPECT_EQ(check_header(dir / "yok.ipynb"),
            std::vector<std::string>{"[PPLN YOK] " + (dir / "yok.ipynb").string() + " bulunamadı"});
  for (const char* content : {"{broken", "{\"nbformat\": 4}", "{\"cells\": [1]}"}) {
    env.write_file_atomic(dir / "bad.ipynb", content);
    const auto problems = check_header(dir / "bad.ipynb");
    ASSERT_EQ(problems.size(), 1u) << content;
    EXPECT_TRUE(problems[0].starts_with("[PPLN PARSE] ")) << problems[0];
  }
}

}  // namespace
}  // namespace vordak::motor
