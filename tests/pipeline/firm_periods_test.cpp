#include "pipeline/firm_periods.h"

#include <gtest/gtest.h>

namespace vordak::pipeline {
namespace {

// A scoreboard of one firm per case, its scores over the given periods ("" for none).
Scoreboard scores_scoreboard_of(const std::vector<std::string>& periods, const std::vector<std::vector<std::string>>& firms) {
  Scoreboard scoreboard;
  scoreboard.meta["donemler"] = periods;
  Column muta("muta", ColumnKind::kInteger);
  for (std::size_t f = 0; f < firms.size(); ++f) muta.push_integer(static_cast<std::int64_t>(f + 1));
  scoreboard.rows.add_column(std::move(muta));
  for (std::size_t p = 0; p < periods.size(); ++p) {
    Column scores("vrd" + periods[p], ColumnKind::kText);
    for (const auto& firm : firms) {
      if (firm[p].empty()) scores.push_null();
      else scores.push_text(firm[p]);
    }
    scoreboard.rows.add_column(std::move(scores));
  }
  return scoreboard;
}

// Horizons count in months: within 3 months of the first period (2024-01), a firm reaches
// YI or stays out of it with every month known.
TEST(FirmPeriods, HorizonsCountFirmsWhoseWindowIsKnown) {
  const std::vector<std::string> periods = {"2024-01", "2024-02", "2024-03", "2024-04", "2024-05"};
  const struct {
    const char* name;
    std::vector<std::string> scores;
    bool counts, event;
  } cases[] = {
      {"stays out, every month known", {"100", "200", "300", "400", "500"}, true, false},
      {"reaches YI in the third month", {"100", "200", "300", "YI", "YI"}, true, true},
      {"reaches YI after the window", {"100", "200", "300", "400", "YI"}, true, false},
      {"a month unknown, no YI", {"100", "", "300", "400", "500"}, false, false},
      {"a month unknown, then YI", {"100", "", "YI", "YI", "YI"}, true, true},
  };
  std::vector<std::vector<std::string>> firms;
  for (const auto& c : cases) firms.push_back(c.scores);
  const Scoreboard scoreboard = scores_scoreboard_of(periods, firms);
  const FirmPeriods data = firm_periods(scoreboard);
  ASSERT_TRUE(data.months_known);
  for (std::size_t f = 0; f < firms.size(); ++f) {
    SCOPED_TRACE(cases[f].name);
    EXPECT_EQ(data.counts_at_horizon(data.cell(f, 0), 0), cases[f].counts);
    EXPECT_EQ(data.event_at_horizon(data.cell(f, 0), 0), cases[f].event);
    // 2024-03 + 3 months lies past the data: nobody counts, not even a firm in YI then.
    EXPECT_FALSE(data.counts_at_horizon(data.cell(f, 2), 0));
  }
  EXPECT_EQ(data.state(3, 1), FirmState::kUnknown);
  EXPECT_EQ(data.state(1, 3), FirmState::kYi);
  EXPECT_EQ(data.state(0, 0), FirmState::kNotYi);

  // A month missing from the data is a month nobody's state is known in.
  const FirmPeriods gap = firm_periods(scores_scoreboard_of({"2024-01", "2024-02", "2024-04", "2024-05"},
                                                     {{"100", "100", "100", "100"}, {"100", "100", "YI", "YI"}}));
  EXPECT_FALSE(gap.counts_at_horizon(gap.cell(0, 0), 0));
  EXPECT_TRUE(gap.event_at_horizon(gap.cell(1, 0), 0));
  EXPECT_FALSE(firm_periods(scores_scoreboard_of({"A", "B"}, {{"1", "2"}})).months_known);
  EXPECT_EQ(label_month("2024-06"), 2024 * 12 + 5);
  EXPECT_EQ(label_month("202406"), label_month("2024-06-30"));
  EXPECT_FALSE(label_month("2024-13"));
}

}  // namespace
}  // namespace vordak::pipeline
