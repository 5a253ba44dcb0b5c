// The man page and the bash completion that the build makes from `vordak --help`
// (packaging/make_docs.py): they must follow the help as it changes.

#include <gtest/gtest.h>

#include <regex>

#include "tests/cli/cli_test_support.h"
#include "tests/test_support.h"

namespace vordak::testing {
namespace {

const fs::path kDocs = fs::path(VORDAK_BINARY).parent_path() / "packaging";

// The commands `vordak --help` lists.
std::vector<std::string> listed_commands() {
  const std::string help = run_vordak({"--help"}).out;
  std::vector<std::string> names;
  const std::regex line(R"(\n  ([a-z]+) )");
  for (std::sregex_iterator it(help.begin(), help.end(), line), end; it != end; ++it) names.push_back((*it)[1]);
  return names;
}

TEST(PackagingDocs, ManPageHasEveryCommandAndOptionAndRendersWithoutWarnings) {
  const std::string page = read_text(kDocs / "vordak.1");
  const std::vector<std::string> commands = listed_commands();
  ASSERT_GE(commands.size(), 10u);
  const std::regex option(R"(\n  (--[a-z0-9-]+))");
  for (const std::string& command : commands) {
    EXPECT_NE(page.find("\n.SS " + command + "\n"), std::string::npos) << command;
    const std::string help = run_vordak({command, "--help"}).out;
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
      if ((*it)[1] == "--help") continue;  // in the synopsis
      std::string escaped = (*it)[1];
      escaped = std::regex_replace(escaped, std::regex("-"), "\\-");
      EXPECT_NE(page.find("\\fB" + escaped + "\\fR"), std::string::npos) << command << " " << (*it)[1];
    }
  }
  const ChildResult groff = run_child({"groff", "-man", "-ww", "-z", (kDocs / "vordak.1").string()});
  EXPECT_EQ(groff.exit_status, 0);
  EXPECT_EQ(groff.err, "");
}

// What the completion offers for a command line whose last word is being typed.
std::string completions(const std::string& line) {
  const std::string script = "source '" + (kDocs / "vordak.bash-completion").string() + "'\n" +
                             "read -ra COMP_WORDS <<< '" + line + "'\n" +
                             (line.ends_with(" ") ? "COMP_WORDS+=('')\n" : "") +
                             "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vordak; echo \"${COMPREPLY[*]}\"\n";
  const ChildResult result = run_child({"bash", "-c", script});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out.substr(0, result.out.find('\n'));
}

TEST(PackagingDocs, CompletionOffersCommandsOptionsAndStepKeys) {
  const struct {
    std::string line;
    std::string offered;
  } cases[] = {
      {"vordak ru", "run"},
      {"vordak re", "reconcile"},
      {"vordak run --skip-i", "--skip-ingest"},
      {"vordak run --from ml_t", "ml_train"},
      {"vordak plan --force backtest_", "backtest_eus backtest_yis backtest_ml"},
      {"vordak step ingest_k", "ingest_kik ingest_kredi"},
      {"vordak step --force tra", "transform"},
      {"vordak history ml_p", "ml_predict"},
      {"vordak prune --k", "--keep"},
      {"vordak run --mode ", ""},
  };
  for (const auto& [line, offered] : cases) EXPECT_EQ(completions(line), offered) << line;
}

}  // namespace
}  // namespace vordak::testing
