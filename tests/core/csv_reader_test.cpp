#include "core/csv_reader.h"

#include <gtest/gtest.h>

namespace vordak {
namespace {

using Records = std::vector<std::vector<std::string>>;

TEST(ParseCsv, ReadsQuotedFieldsDoubledQuotesAndEitherLineEnd) {
  EXPECT_EQ(parse_csv("a,b\r\n\"x,\"\"y\"\"\",\r\n\"l1\nl2\",z"), (Records{{"a", "b"}, {"x,\"y\"", ""}, {"l1\nl2", "z"}}));
  // A last record without a line end still counts; an empty text has none.
  EXPECT_EQ(parse_csv("1,Şişli\n2,\"\""), (Records{{"1", "Şişli"}, {"2", ""}}));
  EXPECT_EQ(parse_csv(""), Records{});
}

}  // namespace
}  // namespace vordak
