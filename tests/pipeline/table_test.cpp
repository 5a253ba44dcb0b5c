#include "pipeline/table.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vordak::pipeline {
namespace {

TEST(Table, WritesRowsWithNullAndAbsentMembersApart) {
  Table table;
  Column muta("muta", ColumnKind::kInteger);
  muta.push_integer(1);
  muta.push_integer(2);
  Column name("unvan", ColumnKind::kText);
  name.push_text("Çelik \"A\"");
  name.push_null();
  Column flag("_ml_yi_prob", ColumnKind::kFloat);
  flag.push_absent();
  flag.push_float(0.5);
  Column extra("x", ColumnKind::kJson);
  extra.push_json({{"a", 1}});
  extra.push_float(std::nan(""));
  table.add_column(muta);
  table.add_column(name);
  table.add_column(flag);
  table.add_column(extra);
  std::string out;
  {
    JsonWriter writer(out, JsonWriter::Layout::kCompact);
    table.write_rows(writer);
  }
  EXPECT_EQ(out, R"([{"muta":1,"unvan":"Çelik \"A\"","x":{"a":1}},{"muta":2,"unvan":null,"_ml_yi_prob":0.5,"x":NaN}])");
  EXPECT_EQ(table.row_json(0).dump(), R"({"muta":1,"unvan":"Çelik \"A\"","x":{"a":1}})");
}

TEST(Table, RefusesColumnsOfAnotherLengthOrATakenName) {
  Table table;
  Column a("a", ColumnKind::kInteger);
  a.push_integer(1);
  table.add_column(a);
  Column b("b", ColumnKind::kInteger);
  EXPECT_THROW(table.add_column(b), std::invalid_argument);
  EXPECT_THROW(table.add_column(a), std::invalid_argument);
  EXPECT_THROW(table.column("missing"), std::out_of_range);
}

TEST(Table, TakeReordersEveryColumnAndKeepsCellStates) {
  Table table;
  Column a("a", ColumnKind::kText);
  a.push_text("x");
  a.push_null();
  a.push_text("z");
  Column b("b", ColumnKind::kFloat);
  b.push_float(1.5);
  b.push_absent();
  b.push_float(3);
  table.add_column(a);
  table.add_column(b);
  const Table taken = table.take({2, 1, 0});
  EXPECT_EQ(taken.column("a").text(0), "z");
  EXPECT_EQ(taken.column("a").cell(1), Cell::kNull);
  EXPECT_EQ(taken.column("b").cell(1), Cell::kAbsent);
  EXPECT_EQ(taken.row_json(2).dump(), R"({"a":"x","b":1.5})");
  EXPECT_TRUE(table.remove_column("a"));
  EXPECT_FALSE(table.remove_column("a"));
}

}  // namespace
}  // namespace vordak::pipeline
