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

constexpr char32_t kBad = 0xFFFD;

TEST(Utf8Text, DecodesEveryWellFormedLengthAndReplacesEachBadByte) {
  const struct {
    const char* name;
    std::string bytes;
    std::u32string code_points;
    bool valid;
  } cases[] = {
      {"one to four bytes", "a\xc3\xa7\xe2\x9c\x93\xf0\x9f\x98\x80", {0x61, 0xE7, 0x2713, 0x1F600}, true},
      {"edges of each length", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
       {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}, true},
      {"invalid bytes", "a\xff" "b\xfe", {0x61, kBad, 0x62, kBad}, false},
      {"stray continuation", "\x80x", {kBad, 0x78}, false},
      {"overlong two bytes", "\xc0\xaf", {kBad, kBad}, false},
      {"overlong three bytes", "\xe0\x80\xaf", {kBad, kBad, kBad}, false},
      {"overlong four bytes", "\xf0\x80\x80\xaf", {kBad, kBad, kBad, kBad}, false},
      {"surrogate", "\xed\xa0\x80!", {kBad, kBad, kBad, 0x21}, false},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", {kBad, kBad, kBad, kBad}, false},
      {"cut at the end", "ok\xe2\x9c", {0x6F, 0x6B, kBad, kBad}, false},
      {"cut by a new character", "\xe2\x9c" "A", {kBad, kBad, 0x41}, false},
      {"five-byte lead", "\xf8\x88\x80\x80\x80", {kBad, kBad, kBad, kBad, kBad}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_utf8(c.bytes), c.code_points) << c.name;
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.name;
    // What decoding gives is always well-formed and survives a round trip.
    const std::string encoded = encode_utf8(decode_utf8(c.bytes));
    EXPECT_TRUE(is_valid_utf8(encoded)) << c.name;
    EXPECT_EQ(decode_utf8(encoded), c.code_points) << c.name;
    if (c.valid) {
      EXPECT_EQ(encoded, c.bytes) << c.name;
    }
  }
}

TEST(Utf8Text, EncodesCodePointsUtf8CannotCarryAsReplacement) {
  EXPECT_EQ(encode_utf8(std::u32string{0xE7, 0x1F600}), "\xc3\xa7\xf0\x9f\x98\x80");
  const std::u32string unencodable = {0xD800, 0xDFFF, 0x110000, 0x7FFFFFFF};
  EXPECT_EQ(encode_utf8(unencodable), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
  // Every code point UTF-8 can carry comes back from a round trip unchanged.
  std::u32string all;
  for (char32_t c = 0; c <= 0x10FFFF; c += (c < 0x800 ? 1 : 97)) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  }
  const std::string bytes = encode_utf8(all);
  EXPECT_TRUE(is_valid_utf8(bytes));
  EXPECT_EQ(decode_utf8(bytes), all);
  EXPECT_EQ(utf8_length(bytes), all.size());
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

