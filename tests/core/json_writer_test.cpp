#include "core/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
