#include "core/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vordak {
namespace {

TEST(JsonWriter, IndentedLayoutMatchesPythonIndentTwo) {
  ordered_json doc = ordered_json::object();
  doc["b"] = 1;
  doc["a"] = {{"x", ordered_json::array({1, 2.0})}, {"e", ordered_json::object()}, {"l", ordered_json::array()}};
  doc["t"] = "Süre ✓";
  EXPECT_EQ(to_json_text(doc, JsonWriter::Layout::kIndented),
            "{\n  \"b\": 1,\n  \"a\": {\n    \"x\": [\n      1,\n      2.0\n    ],\n    \"e\": {},\n"
            "    \"l\": []\n  },\n  \"t\": \"Süre ✓\"\n}");
}

TEST(JsonWriter, CompactLayoutHasNoWhitespace) {
  ordered_json doc = {{"a", ordered_json::array({1, nullptr, true})}, {"b", {{"c", "d"}}}};
  EXPECT_EQ(to_json_text(doc, JsonWriter::Layout::kCompact), R"({"a":[1,null,true],"b":{"c":"d"}})");
}

TEST(JsonWriter, EscapesAsPythonAndKeepsNonAscii) {
  std::string out;
  append_json_string(out, "q\"b\\n\n\t\r\b\f\x01\x1f\x7f ğüşİ </script>");
  EXPECT_EQ(out, "\"q\\\"b\\\\n\\n\\t\\r\\b\\f\\u0001\\u001f\x7f ğüşİ </script>\"");
}

TEST(JsonWriter, NonFiniteNumbersAreBareTokens) {
  std::string text;
  JsonWriter writer(text, JsonWriter::Layout::kCompact);
  writer.begin_array();
  writer.number(std::nan(""));
  writer.number(std::numeric_limits<double>::infinity());
  writer.number(-std::numeric_limits<double>::infinity());
  writer.number(1e16);
  writer.integer(-7);
  writer.end_array();
  EXPECT_EQ(text, "[NaN,Infinity,-Infinity,1e+16,-7]");
}

TEST(PythonText, ShowsValuesAsPythonStrDoes) {
  EXPECT_EQ(python_text(ordered_json("x")), "x");
  EXPECT_EQ(python_text(ordered_json(nullptr)), "None");
  EXPECT_EQ(python_text(ordered_json(true)), "True");
  EXPECT_EQ(python_text(ordered_json(3)), "3");
  EXPECT_EQ(python_text(ordered_json(2.0)), "2.0");
}

}  // namespace
}  // namespace vordak

namespace vordak {
namespace {

TEST(ParseJson, KeepsMemberOrderAndTakesTheLastOfARepeatedMember) {
  const ordered_json parsed =
      parse_json(R"({"b": 1, "a": {"y": [1, {"z": null}], "x": 2.5}, "b": "again", "c": [], "d": {}})");
  EXPECT_EQ(parsed.dump(), R"({"b":"again","a":{"y":[1,{"z":null}],"x":2.5},"c":[],"d":{}})");
  EXPECT_EQ(parse_json("[1, \"ş\", true]").dump(), "[1,\"ş\",true]");
  EXPECT_EQ(parse_json("18446744073709551615").get<std::uint64_t>(), 18446744073709551615u);

  // Large objects keep every member in order (the builder indexes names).
  std::string text = "{";
  for (int i = 0; i < 50000; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
  text += ",\"k7\":-7}";
  const ordered_json big = parse_json(text);
  ASSERT_EQ(big.size(), 50000u);
  EXPECT_EQ(big["k7"], -7);
  EXPECT_EQ(big.items().begin().key(), "k0");
  std::string last;
  for (const auto& [key, value] : big.items()) last = key;
  EXPECT_EQ(last, "k49999");
}

TEST(ParseJson, RefusesMalformedTextAndAByteOrderMark) {
  for (const char* bad : {"", "{", "{\"a\":1,}", "[1 2]", "{\"a\":1} x", "\xEF\xBB\xBF{}", "{\"a\":\"\xFF\"}"}) {
    EXPECT_THROW(parse_json(bad), ordered_json::exception) << bad;
  }
}

// The scanner reads exactly the library's grammar: the same value where the library reads
// one, the library's own error where it refuses.
TEST(ParseJson, ReadsWhatTheLibraryReadsAndRefusesWithItsError) {
  const std::vector<std::string> texts = {
      " \t\r\n{ \"a\" : [ 1 , -2 , 3.5e2 , 0.0 , -0 , 1E-3 , true , false , null ] } \n",
      R"(["\"\\\/\b\f\n\r\t", "\u00e7\u011F\u0000x", "\ud83d\ude00", "\uD834\uDD1E"])",
      "[\"ç\u011fş\xF0\x9F\x98\x80\x7F\"]",
      "[9223372036854775807, -9223372036854775808, 9223372036854775808, -9223372036854775809]",
      "[18446744073709551615, 18446744073709551616, 123456789012345678901234567890]",
      "[[[[[[[[[[{\"a\":[{}]}]]]]]]]]]]",
      "{\"a\":1,\"a\":2,\"b\":{},\"a\":[3]}",
      // Refused, each for its own reason.
      "[01]", "[1.]", "[.5]", "[1e]", "[+1]", "[-]", "[1e999]", "[-1e999]", "[tru]", "[nulls]", "{,}",
      "[\"\\x\"]", "[\"\\u12G4\"]", "[\"\\ud800\"]", "[\"\\udc00\"]", "[\"\\ud800\\u0041\"]",
      "[\"a\tb\"]", "[\"\x01\"]", "[\"\xC0\x80\"]", "[\"\xE0\x80\x80\"]", "[\"\xED\xA0\x80\"]",
      "[\"\xF4\x90\x80\x80\"]", "[\"\xF5\"]", "[\"\xC3\"]", "[\"abc", "{\"a\" 1}", "{\"a\":}", "[1,]",
      "[]]", "{} {}", std::string("[1]\0", 4), "\x01",
  };
  for (const std::string& text : texts) {
    std::optional<std::string> expected;
    std::string expected_error;
    try {
      expected = ordered_json::parse(text).dump();
    } catch (const ordered_json::exception& error) {
      expected_error = error.what();
    }
    try {
      const std::string read = parse_json(text).dump();
      EXPECT_EQ(expected, read) << text;
    } catch (const ordered_json::exception& error) {
      EXPECT_FALSE(expected) << text;
      EXPECT_EQ(expected_error, error.what()) << text;
    }
  }
}

}  // namespace
}  // namespace vordak
