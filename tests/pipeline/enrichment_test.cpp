#include "pipeline/enrichment.h"

#include <gtest/gtest.h>

#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

using testing::rows_of;

std::string rows_json(const Table& rows) {
  std::string out;
  JsonWriter writer(out, JsonWriter::Layout::kCompact);
  rows.write_rows(writer);
  return out;
}

TEST(EnrichWithTrending, FlagsRowsAndJoinsReasonsInFlagOrder) {
  Scoreboard scoreboard;
  scoreboard.rows = rows_of({{{"muta", 1234}, {"_kacirilan", 7}, {"_vrd_neden", "old"}},
                             {{"muta", 2}},
                             {{"muta", 3}},
                             {{"x", 0}}});
  const ordered_json trending = {
      {"fastest_rising", {{{"muta", "1234"}, {"reason", "hızlı"}}}},
      {"persistent_high", {{{"muta", 1234}, {"reason", "yüksek"}}, {{"muta", 3}, {"reason", ""}}}},
      {"missed_yi", ordered_json::array()},
  };
  StringSink sink;
  enrich_with_trending(scoreboard, trending, sink);
  EXPECT_EQ(sink.text(), "    trending flags: 2 entities enriched\n");
  EXPECT_EQ(rows_json(scoreboard.rows),
            R"([{"muta":1234,"_kacirilan":0,"_vrd_neden":"hızlı | yüksek","_hizli_yukselen":1,"_rejim_degisimi":0,)"
            R"("_potansiyel_yi":1,"_erken_sinyal":0,"_yakalanan":0},)"
            R"({"muta":2,"_kacirilan":0,"_vrd_neden":"","_hizli_yukselen":0,"_rejim_degisimi":0,"_potansiyel_yi":0,)"
            R"("_erken_sinyal":0,"_yakalanan":0},)"
            R"({"muta":3,"_kacirilan":0,"_vrd_neden":"","_hizli_yukselen":0,"_rejim_degisimi":0,"_potansiyel_yi":1,)"
            R"("_erken_sinyal":0,"_yakalanan":0},)"
            R"({"_kacirilan":0,"_vrd_neden":"","x":0,"_hizli_yukselen":0,"_rejim_degisimi":0,"_potansiyel_yi":0,)"
            R"("_erken_sinyal":0,"_yakalanan":0}])");
  EXPECT_THROW(enrich_with_trending(scoreboard, ordered_json::array(), sink), std::invalid_argument);
}

}  // namespace
}  // namespace vordak::pipeline
