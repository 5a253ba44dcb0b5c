#include "pipeline/firm_records.h"

#include <gtest/gtest.h>

#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

using testing::scoreboard_of;

// The scores and amounts of a firm's record, as the page receives them.
std::pair<ordered_json, ordered_json> series(const ordered_json& scores, const ordered_json& risks) {
  ordered_json record = {{"muta", 1}, {"son_risk", 0}};
  const std::vector<std::string> periods = {"A", "B", "C", "D"};
  for (std::size_t p = 0; p < scores.size(); ++p) {
    record["vrd" + periods[p]] = scores[p];
    record["r" + periods[p]] = risks[p];
  }
  const Scoreboard scoreboard = scoreboard_of(ordered_json(std::vector<std::string>(periods.begin(), periods.begin() + scores.size())),
                                              ordered_json::array({record}));
  const FirmFacts facts = firm_facts(scoreboard, build_watch_lists(scoreboard), watch_list_history(scoreboard), {});
  const PageContext context;
  const FirmRecords records(scoreboard, facts, context);
  return {ordered_json::parse(records.array({0}, 0, 1, RecordPart::kTable))[0][7],
          ordered_json::parse(records.array({0}, 0, 1, RecordPart::kPanel))[0][0]};
}

TEST(FirmRecords, PacksScoresAndAmountsOrWritesThemWholeWhenTheyDoNotFit) {
  const struct {
    ordered_json scores, risks;
    ordered_json packed_scores, packed_risks;
  } cases[] = {
      // Two digits a score: 0, 4093, "YI" (4094), none (4095); "-1" and "YI" are one state.
      {{0, 4093, "YI", nullptr}, {0, 31, 32, nullptr}, "AA_9_-__", "A-BC."},
      {{"-1", "650", 12, 7}, {-1, -1, 1000000, 999999.75}, "_-KKAMAH", "BAikh9BB"},
      // A fractional or negative score, or an amount beyond 2^53, leaves the series whole.
      {{500.5, 10, 10, 10}, {1, 2, 3, 4}, {500.5, 10, 10, 10}, "CCCC"},
      {{-5, 10, 10, 10}, {1e16, 2, 3, 4}, {-5, 10, 10, 10}, {1e16, 2.0, 3.0, 4.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scores.dump() + " " + c.risks.dump());
    const auto [scores, risks] = series(c.scores, c.risks);
    EXPECT_EQ(scores, c.packed_scores);
    EXPECT_EQ(risks, c.packed_risks);
  }
}

TEST(FirmRecords, AFirmWithNoRiskInTheLatestPeriodHasNoCurrentRiskAndNoChange) {
  // The scoreboard gives such a firm "son_risk" 0 and a change of minus its whole risk.
  const auto fields = [](const ordered_json& latest_risk) {
    const ordered_json record = {{"muta", 1}, {"son_risk", 0}, {"vrdA", 500}, {"vrdB", 500}, {"rA", 700},
                                 {"rB", latest_risk}, {"dfA", -700}};
    const Scoreboard scoreboard = scoreboard_of({"A", "B"}, ordered_json::array({record}));
    const FirmFacts facts = firm_facts(scoreboard, build_watch_lists(scoreboard), watch_list_history(scoreboard), {});
    const ordered_json firm = ordered_json::parse(FirmRecords(scoreboard, facts, PageContext()).array({0}, 0, 1, RecordPart::kTable))[0];
    return std::pair(firm[5], firm[6]);  // son_risk, degisim
  };
  EXPECT_EQ(fields(nullptr), std::pair(ordered_json(nullptr), ordered_json(nullptr)));
  EXPECT_EQ(fields(0), std::pair(ordered_json(0), ordered_json(-700)));  // a real repayment stays one
}

}  // namespace
}  // namespace vordak::pipeline
