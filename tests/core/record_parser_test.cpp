#include "core/record_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vordak {
namespace {

struct SetAside {
  ordered_json document;
  TextMembers members;
};

std::vector<std::string> shown(const TextMembers& members) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < members.size(); ++i) {
    out.push_back(std::string(members[i].name) + "=" + (members[i].text ? std::string(*members[i].text) : "-"));
  }
  return out;
}

SetAside set_aside(const std::string& text) {
  SetAside read;
  read.document = parse_record(std::string(text), "s", read.members);
  return read;
}

// Put back in its place, the member set aside gives the document parse_json reads.
TEST(ParseRecord, PutBackGivesTheWholeDocument) {
  std::string many = R"({"a": 1, "s": {)";
  for (int i = 0; i < 100; ++i) many += "\"p" + std::to_string(i) + "\": \"" + std::to_string(i) + "\", ";
  many += R"("p7": "again", "p99": "last"}, "z": [2]})";
  for (const std::string& text :
       {std::string(R"({"a": 1, "s": {"x": "1", "y": "2", "x": "3"}, "b": {"s": {"k": "v"}}})"), many,
        std::string(R"({"s": 5, "s": {"x": "1"}})"), std::string(R"({"s": {}})"), std::string(R"({"a": "ş"})"),
        // Plain texts, with what lies around them only passed over: escapes, brackets and
        // quotes inside texts, the name nested elsewhere, any spacing, UTF-8.
        std::string(R"({"b": [1, {"c": "}]\"{"}], "s": {"x": "1", "y": "ş"}, "a": "\u0041", "n": -1.5e3, "t": true})"),
        std::string(" \t{ \"s\" :\n{ \"x\" : \"1\" ,\r\"y\":\"\" } , \"o\": {\"s\": {\"k\": \"v\"}} }\n"),
        // What only the parser can say: an escape in a text or in a top-level name that may
        // spell the member's, the member given twice.
        std::string(R"({"s": {"x": "a\"b", "y": "2"}})"), std::string(R"({"\u0073": {"x": "1"}})"),
        std::string(R"({"s": {"x": "1"}, "\u0073": {"y": "2"}})"), std::string(R"({"s": {"x": "1"}, "s": {"y": "2"}})")}) {
    SetAside read = set_aside(text);
    if (!read.members.empty()) read.document["s"] = read.members.to_json();
    EXPECT_EQ(read.document, parse_json(text)) << text;
  }
}

// Written as records are, the members stay where they lie in the text, which the members
// hold: a record of 100,000 fingerprints is not copied name by name.
TEST(ParseRecord, PlainMembersStayInTheTextHeld) {
  TextMembers members;
  parse_record(R"({"a": [1, {"s": "\u0041"}], "s": {"x": "1", "ş": ""}, "b": "\n"})", "s", members);
  ASSERT_EQ(shown(members), (std::vector<std::string>{"x=1", "ş="}));
  const std::string_view held = members.held();
  for (std::size_t i = 0; i < members.size(); ++i) {
    for (const std::string_view part : {members[i].name, *members[i].text}) {
      EXPECT_TRUE(part.data() >= held.data() && part.data() + part.size() <= held.data() + held.size()) << part;
    }
  }
  // An escape is decoded the long way, the members copied out.
  parse_record(R"({"s": {"x": "a\"b"}})", "s", members);
  EXPECT_EQ(shown(members), (std::vector<std::string>{"x=a\"b"}));
}

TEST(ParseRecord, KeepsTheFirstPlaceAndTheLastValueOfARepeatedName) {
  const SetAside read = set_aside(R"({"a": 1, "s": {"x": "1", "y": "2", "x": "3"}, "b": 2})");
  EXPECT_EQ(read.document.dump(), R"({"a":1,"s":{},"b":2})");
  EXPECT_EQ(shown(read.members), (std::vector<std::string>{"x=3", "y=2"}));
}

TEST(ParseRecord, ValuesThatAreNoTextsAndMembersOfOtherPlaces) {
  // Containers, however deep, are one value that is not a text; a text given again after
  // one is a text again.
  const SetAside read = set_aside(R"({"s": {"x": {"d": [1, {"s": {}}]}, "y": null, "z": "t", "x": "u", "n": [[]]}})");
  EXPECT_EQ(read.document.dump(), R"({"s":{}})");
  EXPECT_EQ(shown(read.members), (std::vector<std::string>{"x=u", "y=-", "z=t", "n=-"}));

  // Only the top-level member is set aside, and only when it is an object.
  EXPECT_TRUE(set_aside(R"({"o": {"s": {"x": "1"}}})").members.empty());
  const SetAside array = set_aside(R"({"s": ["x"]})");
  EXPECT_EQ(array.document.dump(), R"({"s":["x"]})");
  EXPECT_TRUE(array.members.empty());
  EXPECT_TRUE(set_aside(R"([{"s": {"x": "1"}}])").members.empty());

  // A later member of the name replaces the one set aside.
  const SetAside replaced = set_aside(R"({"s": {"x": "1"}, "s": 5})");
  EXPECT_EQ(replaced.document.dump(), R"({"s":5})");
  EXPECT_TRUE(replaced.members.empty());
}

TEST(ParseRecord, MalformedTextIsRefusedAsWithoutIt) {
  for (const char* bad : {R"({"s": {"x": "1",}})", R"({"s": {"x": "1"})", "\xEF\xBB\xBF{}", R"({"s": {"x": "\xFF"}})",
                          // Malformed only around a member that reads well, or in its texts.
                          R"({"s": {"x": "1"}, "a": })", R"({"s": {"x": "1"}} x)", R"({"a": [}], "s": {"x": "1"}})",
                          R"({"s": {"x": "1"}, "a": tru})", "{\"s\": {\"x\": \"a\tb\"}}",
                          "{\"s\": {\"x\": \"\xC0\xAF\"}}", "{\"s\": {\"\xED\xA0\x80\": \"1\"}}"}) {
    TextMembers members;
    EXPECT_THROW(parse_record(bad, "s", members), ordered_json::exception) << bad;
  }
}

// Nesting is refused one level past the limit wherever it lies, so that nothing that
// recurses over a document (its writer, a comparison) meets a hostile depth; 50,000 levels
// is what a 100 KB file holds.
TEST(ParseJson, RefusesNestingDeeperThanTheLimitWhereverItLies) {
  const auto nested = [](std::size_t levels, const char* open, const char* close) {
    std::string text;
    for (std::size_t i = 0; i < levels; ++i) text += open;
    text += "1";
    for (std::size_t i = 0; i < levels; ++i) text += close;
    return text;
  };
  const auto in_places = [&](std::size_t levels) {
    return std::vector<std::string>{nested(levels, "[", "]"),
                                    nested(levels, "{\"a\":", "}"),
                                    "{\"x\": 1, \"s\": " + nested(levels - 1, "{\"k\":", "}") + "}",
                                    "{\"s\": {\"k\": " + nested(levels - 2, "[", "]") + "}}"};
  };
  for (const std::string& text : in_places(kMaxJsonDepth)) {
    TextMembers members;
    EXPECT_NO_THROW(parse_json(text)) << text.substr(0, 12);
    EXPECT_NO_THROW(parse_record(std::string(text), "s", members)) << text.substr(0, 12);
  }
  for (const std::size_t levels : {kMaxJsonDepth + 1, std::size_t{50'000}}) {
    for (const std::string& text : in_places(levels)) {
      TextMembers members;
      EXPECT_THROW(parse_json(text), ordered_json::parse_error) << text.substr(0, 12);
      EXPECT_THROW(parse_record(std::string(text), "s", members), ordered_json::parse_error) << text.substr(0, 12);
    }
  }
}

}  // namespace
}  // namespace vordak
