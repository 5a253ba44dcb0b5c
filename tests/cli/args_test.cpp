#include "cli/args.h"

#include <gtest/gtest.h>

namespace vordak::cli {
namespace {

using Kind = Option::Kind;

const Command kCommand = {"step",
                          "STEP [NOTE]",
                          1,
                          2,
                          "Processes one step.",
                          {{"work-dir", Kind::kValue, "DIR", "working directory"},
                           {"force-all", Kind::kFlag, "", "run every step"},
                           {"param", Kind::kRepeated, "NAME=VALUE", "notebook parameter"}}};

TEST(ParseArgs, ReadsValuesFlagsRepeatsAndPositionalsInAnyOrder) {
  const ParsedArgs parsed =
      parse_args(kCommand, {"--param", "A=1", "transform", "--work-dir=/w", "--force-all", "--param=B=2",
                            "--work-dir", "/v", "--", "--param"});
  EXPECT_EQ(parsed.positionals(), (std::vector<std::string>{"transform", "--param"}));
  EXPECT_TRUE(parsed.flag("force-all"));
  EXPECT_EQ(parsed.value("work-dir"), "/v");  // a single-value option keeps its last value
  EXPECT_EQ(parsed.values("work-dir"), (std::vector<std::string>{"/v"}));
  EXPECT_EQ(parsed.values("param"), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_EQ(parsed.value("param"), "B=2");
  EXPECT_FALSE(parsed.help());

  const ParsedArgs bare = parse_args(kCommand, {"-", "--work-dir="});
  EXPECT_EQ(bare.positionals(), (std::vector<std::string>{"-"}));
  EXPECT_EQ(bare.value("work-dir"), "");  // given empty, which is not the same as absent
  EXPECT_FALSE(bare.flag("force-all"));
  EXPECT_EQ(bare.value("param"), std::nullopt);
  EXPECT_TRUE(bare.values("param").empty());
}

TEST(ParseArgs, HelpWinsOverEverythingAfterIt) {
  EXPECT_TRUE(parse_args(kCommand, {"--help"}).help());  // the positional STEP is not required then
  EXPECT_TRUE(parse_args(kCommand, {"a", "b", "--help", "--nope", "c"}).help());
  // After "--" it is an argument like any other.
  EXPECT_FALSE(parse_args(kCommand, {"--", "--help"}).help());
}

TEST(ParseArgs, RefusesMistakesWithAMessageNamingThem) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"t", "--nope"}, "unknown option --nope"},
      {{"t", "--nope=1"}, "unknown option --nope"},
      {{"t", "--force-all=yes"}, "--force-all takes no value"},
      {{"t", "--work-dir"}, "--work-dir needs a value (DIR)"},
      {{"t", "--param"}, "--param needs a value (NAME=VALUE)"},
      {{}, "missing argument: STEP [NOTE]"},
      {{"--force-all"}, "missing argument: STEP [NOTE]"},
      {{"a", "b", "c"}, "unexpected argument: c"},
      {{"-x", "b", "c"}, "unexpected argument: c"},
  };
  for (const auto& c : cases) {
    try {
      parse_args(kCommand, c.args);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const UsageError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

TEST(IntegerValue, AcceptsWholeNumbersOnly) {
  EXPECT_EQ(integer_value("firms", "2000"), 2000);
  EXPECT_EQ(integer_value("seed", "-1"), -1);
  EXPECT_EQ(integer_value("seed", "9223372036854775807"), 9223372036854775807LL);
  for (const std::string text : {"", "12x", "1.5", "x", "9223372036854775808", "12 "}) {
    try {
      integer_value("firms", text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const UsageError& error) {
      EXPECT_EQ(std::string(error.what()), "--firms needs an integer, got '" + text + "'");
    }
  }
}

TEST(UsageText, ListsEveryOptionWithItsValueAndHelpLast) {
  EXPECT_EQ(usage_text(kCommand),
            "usage: vordak step [options] STEP [NOTE]\n"
            "\n"
            "Processes one step.\n"
            "\n"
            "options:\n"
            "  --work-dir DIR             working directory\n"
            "  --force-all                run every step\n"
            "  --param NAME=VALUE         notebook parameter (repeatable)\n"
            "  --help                     show this help\n");
  const Command bare = {"check", "", 0, 0, "Checks.", {}};
  EXPECT_EQ(usage_text(bare), "usage: vordak check\n\nChecks.\n  --help                     show this help\n");
}

}  // namespace
}  // namespace vordak::cli
