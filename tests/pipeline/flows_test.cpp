#include "pipeline/flows.h"

#include <gtest/gtest.h>

#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

// A scoreboard whose rows are given as JSON records over the given periods.
Scoreboard risk_scoreboard_of(const ordered_json& periods, const ordered_json& records) {
  Scoreboard scoreboard;
  scoreboard.meta = {{"donemler", periods}, {"risk_donemler", periods}, {"son_donem", periods.back()}};
  scoreboard.rows = testing::rows_of(records);
  return scoreboard;
}

TEST(FlowMatrix, CountsBandMovesPerSegmentWithRiskOfTheLaterPeriod) {
  const Scoreboard scoreboard = risk_scoreboard_of(
      {"A", "B"},
      {{{"segment", "KOBI"}, {"vrdA", "YI"}, {"vrdB", "YI"}, {"rB", -500}},
       {{"segment", "KOBI"}, {"vrdA", "YI"}, {"vrdB", -1}, {"rB", 300.6}},
       {{"segment", "MIKRO"}, {"vrdA", 100}, {"vrdB", 900}, {"rB", "x"}},
       {{"segment", "OTHER"}, {"vrdA", 400}, {"vrdB", nullptr}, {"rB", 5}},
       {{"segment", nullptr}, {"vrdA", 824}, {"vrdB", 825}}});
  EXPECT_EQ(build_flow_matrix(scoreboard).dump(),
            R"({"ALL":[{"from":"A","to":"B","flows":[)"
            R"({"from_band":"0-325","to_band":"825-1000","risk_tl":0,"count":1},)"
            R"({"from_band":"500-825","to_band":"825-1000","risk_tl":0,"count":1},)"
            R"({"from_band":"YI","to_band":"YI","risk_tl":800,"count":2}]}],)"
            R"("KUR-TIC":[{"from":"A","to":"B","flows":[]}],)"
            R"("KOBI":[{"from":"A","to":"B","flows":[{"from_band":"YI","to_band":"YI","risk_tl":800,"count":2}]}],)"
            R"("MIKRO":[{"from":"A","to":"B","flows":[{"from_band":"0-325","to_band":"825-1000","risk_tl":0,"count":1}]}],)"
            R"("ESKK":[{"from":"A","to":"B","flows":[]}]})");
}

TEST(FlowMatrix, KeepsTheNewestWindowAndDegeneratesOnSmallInput) {
  ordered_json periods = ordered_json::array();
  ordered_json record = {{"segment", "ESKK"}};
  for (int p = 1; p <= 8; ++p) {
    periods.push_back("P" + std::to_string(p));
    record["vrdP" + std::to_string(p)] = 100 * p;
  }
  const ordered_json matrix = build_flow_matrix(risk_scoreboard_of(periods, ordered_json::array({record})));
  ASSERT_EQ(matrix.size(), 5u);
  for (const auto& [segment, list] : matrix.items()) ASSERT_EQ(list.size(), 5u) << segment;
  EXPECT_EQ(matrix["ALL"][0]["from"], "P3");
  EXPECT_EQ(matrix["ALL"][4]["to"], "P8");
  EXPECT_EQ(build_flow_matrix(risk_scoreboard_of({"P1"}, ordered_json::array({record}))).dump(), R"({"ALL":[]})");
  EXPECT_EQ(build_flow_matrix(risk_scoreboard_of(periods, ordered_json::array())).dump(), R"({"ALL":[]})");
  EXPECT_THROW(build_flow_matrix(risk_scoreboard_of(periods, ordered_json::array({ordered_json{{"vrdP1", 1}}}))), std::runtime_error);
}

TEST(BandSnapshot, CountsFirmsPerBandForEveryPeriod) {
  const Scoreboard scoreboard = risk_scoreboard_of(
      {"A", "B"},
      {{{"segment", "KUR-TIC"}, {"vrdA", "YI"}, {"rA", 10.9}}, {{"segment", "KUR-TIC"}, {"vrdA", 10}, {"rA", -2}}});
  EXPECT_EQ(build_band_snapshot(scoreboard).dump(),
            R"({"ALL":[{"donem":"A","bands":{"0-325":{"risk_tl":2,"count":1},"YI":{"risk_tl":10,"count":1}}},)"
            R"({"donem":"B","bands":{}}],)"
            R"("KUR-TIC":[{"donem":"A","bands":{"0-325":{"risk_tl":2,"count":1},"YI":{"risk_tl":10,"count":1}}},)"
            R"({"donem":"B","bands":{}}],)"
            R"("KOBI":[{"donem":"A","bands":{}},{"donem":"B","bands":{}}],)"
            R"("MIKRO":[{"donem":"A","bands":{}},{"donem":"B","bands":{}}],)"
            R"("ESKK":[{"donem":"A","bands":{}},{"donem":"B","bands":{}}]})");
  EXPECT_EQ(build_band_snapshot(Scoreboard{}).dump(), R"({"ALL":[]})");
}

}  // namespace
}  // namespace vordak::pipeline
