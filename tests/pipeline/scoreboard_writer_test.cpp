#include "pipeline/scoreboard_writer.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/files.h"
#include "scoreboard_fixture.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;

// The file a writer is given collects the text in memory, failing from byte `fail_at` on.
class MemoryFile : public WritableFile {
 public:
  explicit MemoryFile(std::size_t fail_at = SIZE_MAX) : fail_at_(fail_at) {}
  const fs::path& path() const override { return path_; }
  void append(std::string_view bytes) override {
    if (text.size() + bytes.size() > fail_at_) throw std::runtime_error("Dosya yazılamadı: disk full");
    text.append(bytes);
  }
  void start_writeback() override {}
  void sync_and_close() override {}
  std::string text;

 private:
  fs::path path_ = "memory";
  std::size_t fail_at_;
};

Scoreboard many_rows(std::size_t count) {
  ordered_json records = ordered_json::array();
  for (std::size_t i = 0; i < count; ++i) {
    ordered_json record = {{"muta", i}, {"unvan", i % 3 == 0 ? "Şişli \"A\"" : "B"}, {"son_risk", 1000.5 * i}};
    if (i % 5 != 0) record["vrdA"] = i % 7 == 0 ? ordered_json("YI") : ordered_json(i % 1000);
    records.push_back(record);
  }
  Scoreboard scoreboard = testing::scoreboard_of({"A"}, records);
  scoreboard.extra["flow_matrix"] = {{"A", 1}};
  scoreboard.extra["band_snapshot"] = ordered_json::array();
  // A text member of several slices with the most rows.
  scoreboard.text_members.emplace_back("diag_index", "{\"1\":\"" + std::string(count * 1300, 'x') + "\"}");
  return scoreboard;
}

std::string written_whole(const Scoreboard& scoreboard) {
  std::string text;
  JsonWriter writer(text, JsonWriter::Layout::kCompact);
  write_scoreboard(writer, scoreboard);
  writer.flush();
  return text;
}

TEST(ScoreboardWriter, WritesTheBytesOfTheWholeDocumentWithAnyNumberOfThreads) {
  for (const std::size_t rows : {0, 1, 2048, 2049, 7000}) {
    const Scoreboard scoreboard = many_rows(rows);
    const std::string expected = written_whole(scoreboard);
    for (const unsigned threads : {1u, 3u}) {
      MemoryFile file;
      ScoreboardWriter writer(scoreboard, file, threads);
      writer.finish();
      EXPECT_EQ(file.text, expected) << rows << " rows, " << threads << " threads";
    }
  }
}

TEST(ScoreboardWriter, AFailingFileEndsTheWriteWithItsError) {
  const Scoreboard scoreboard = many_rows(7000);
  MemoryFile file(100000);
  ScoreboardWriter writer(scoreboard, file, 2);
  EXPECT_THROW(writer.finish(), std::runtime_error);
  {
    // Given up before finishing: the threads stop without any error escaping.
    MemoryFile other;
    ScoreboardWriter abandoned(scoreboard, other, 2);
  }
}

}  // namespace
}  // namespace vordak::pipeline
