#include "motor/record_reader.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vordak::motor {
namespace {

using testing::TempDir;
using testing::write_text;

TEST(RecordReader, ReadsEachRecordOnceAndPassesOverWhatIsNoRecord) {
  TempDir dir;
  write_text(dir / "adim_transform.json", R"({"mode": "prod", "source_hashes": {"/src/a.csv": "0123456789abcdef"}})");
  write_text(dir / "broken.json", R"({"mode": )");
  write_text(dir / "list.json", "[1]");
  RecordReader reader(Env::system());

  const RecordReader::Record* record = reader.read(dir / "adim_transform.json");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->document.dump(), R"({"mode":"prod","source_hashes":{}})");
  ASSERT_EQ(record->sources.size(), 1u);
  EXPECT_EQ(record->sources[0].name, "/src/a.csv");
  EXPECT_EQ(record->sources[0].text, "0123456789abcdef");

  // Read once: the same record, whatever the file holds now.
  write_text(dir / "adim_transform.json", R"({"mode": "test"})");
  EXPECT_EQ(reader.read(dir / "adim_transform.json"), record);

  EXPECT_EQ(reader.read(dir / "broken.json"), nullptr);
  EXPECT_EQ(reader.read(dir / "list.json"), nullptr);
  EXPECT_EQ(reader.read(dir / "missing.json"), nullptr);
}

}  // namespace
}  // namespace vordak::motor
