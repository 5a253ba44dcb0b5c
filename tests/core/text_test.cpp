#include "core/text.h"

#include <gtest/gtest.h>

namespace vordak {
namespace {

TEST(Utf8Text, CountsAndPadsByCharacters) {
  EXPECT_EQ(utf8_length("Adım"), 4u);
  EXPECT_EQ(utf8_length("Süre"), 4u);
  EXPECT_EQ(pad_right("Adım", 6), "Adım  ");
  EXPECT_EQ(pad_left("Süre", 6), "  Süre");
  EXPECT_EQ(pad_right("uzun_metin", 4), "uzun_metin");
  EXPECT_EQ(utf8_prefix("çğüşöı", 3), "çğü");
  EXPECT_EQ(utf8_prefix("ab", 8), "ab");
}

TEST(Utf8Text, ValidatesEncoding) {
  EXPECT_TRUE(is_valid_utf8("Ağaç ✓ 😀"));
  EXPECT_FALSE(is_valid_utf8("\xff"));
  EXPECT_FALSE(is_valid_utf8("\xc3"));        // cut sequence
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));    // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));  // surrogate
}

TEST(CaseMapping, HandlesAsciiAndTurkishLetters) {
  EXPECT_EQ(to_lower("EVET"), "evet");
  EXPECT_EQ(to_lower("ÇĞÖŞÜ"), "çğöşü");
  EXPECT_EQ(to_upper("prod"), "PROD");
  EXPECT_EQ(to_upper("çalış"), "ÇALIŞ");
  EXPECT_EQ(strip("  e \n"), "e");
  EXPECT_EQ(python_list_text({"a", "b"}), "['a', 'b']");
  EXPECT_EQ(python_list_text({}), "[]");
}

}  // namespace
}  // namespace vordak

namespace vordak {
namespace {

TEST(TerminalSafe, WritesControlCharactersOutAndKeepsTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"Şube ğüİ ── ok", "Şube ğüİ ── ok"},
      {"two\nlines\tand a tab", "two\nlines\tand a tab"},
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {"bell\a cr\r del\x7f nul" + std::string(1, '\0'), "bell\\x07 cr\\x0d del\\x7f nul\\x00"},
      {"c1 \xc2\x9b" "31m csi", "c1 \\u009b31m csi"},
      {"latin \xc2\xa0 nbsp", "latin \xc2\xa0 nbsp"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(terminal_safe(in), out) << out;
}

}  // namespace
}  // namespace vordak

