#include "pipeline/trending.h"

#include <gtest/gtest.h>

#include "pipeline/cleaning.h"
#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

using testing::indented;
using testing::scoreboard_of;

ordered_json row(ordered_json muta, ordered_json son_risk, const std::vector<ordered_json>& scores,
                 const std::vector<std::string>& periods = {"A", "B", "C", "D"}) {
  ordered_json record = {{"muta", muta}, {"unvan", "F" + text_form(muta)}, {"son_risk", son_risk}};
  for (std::size_t p = 0; p < scores.size(); ++p) {
    if (!scores[p].is_discarded()) record["vrd" + periods[p]] = scores[p];
  }
  return record;
}

TEST(TrendingLists, SelectsRanksAndExplainsEveryList) {
  const ordered_json records = {
      row(1, 100, {550, 600, 650, 700}),
      row(2, 300, {400, 450, 480, 600}),
      row(3, nullptr, {50, "YI", 90, 800}),
      row(4, 5000, {900, 850, -1, "830"}),
      row(5, 9999, {"YI", "YI", "YI", "YI"}),
      row(6, 10, {"x", 150, 900, "YI"}),
      row(7, 20, {300, 300, 300, "YI"}),
      row("8", 0, {300, 300, nullptr, "-1"}),
      row(9, 30, {300, 300, "YI", "YI"}),
      // In YI before and after a month the extract lacks: no new YI, so on no list.
      row(11, 40, {"YI", "YI", nullptr, "YI"}),
      {{"muta", 10}, {"son_risk", 50}, {"vrdA", 300}, {"vrdB", 310}, {"vrdC", 350}, {"vrdD", 420}},
  };
  const ordered_json trending = build_trending_lists(scoreboard_of({"A", "B", "C", "D"}, records));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"fastest_rising",
       R"J([{"muta":2,"unvan":"F2","son_risk":300,"score_last":600,"delta_3":200,"reason":"Son 3 dönemde +200 puan artış (şu an 600)"},)J"
       R"J({"muta":1,"unvan":"F1","son_risk":100,"score_last":700,"delta_3":150,"reason":"Son 3 dönemde +150 puan artış (şu an 700)"},)J"
       R"J({"muta":3,"unvan":"F3","son_risk":null,"score_last":800,"delta_3":750,"reason":"Son 3 dönemde +750 puan artış (şu an 800)"}])J"},
      {"regime_change",
       R"J([{"muta":3,"unvan":"F3","son_risk":null,"score_last":800,"reason":"Band geçişi: Hızlı sıçrama (1000), şimdi 800"},)J"
       R"J({"muta":2,"unvan":"F2","son_risk":300,"score_last":600,"reason":"Band geçişi: Önceden 400 skor verilmişti, şimdi 600"}])J"},
      {"persistent_high",
       R"J([{"muta":4,"unvan":"F4","son_risk":5000,"score_last":830,"reason":"Son 4 dönemin 4 tanesinde skor >= 825"}])J"},
      {"low_but_rising",
       R"J([{"muta":2,"unvan":"F2","son_risk":300,"score_last":600,"delta_3":200,"reason":"Erken sinyal: 600 skor, +200 artış"},)J"
       R"J({"muta":1,"unvan":"F1","son_risk":100,"score_last":700,"delta_3":150,"reason":"Erken sinyal: 700 skor, +150 artış"},)J"
       R"J({"muta":10,"unvan":null,"son_risk":50,"score_last":420,"delta_3":120,"reason":"Erken sinyal: 420 skor, +120 artış"},)J"
       R"J({"muta":3,"unvan":"F3","son_risk":null,"score_last":800,"delta_3":750,"reason":"Erken sinyal: 800 skor, +750 artış"}])J"},
      {"caught_yi",
       R"J([{"muta":6,"unvan":"F6","son_risk":10,"score_last":1000,"reason":"Yakalandı: Önceki dönem skor: 900, Hızlı yükseliş: 150->900"}])J"},
      {"missed_yi",
       R"J([{"muta":7,"unvan":"F7","son_risk":20,"score_last":1000,"reason":"Kaçırıldı: Önceki dönem skor 300 (<825)"},)J"
       R"J({"muta":"8","unvan":"F8","son_risk":0,"score_last":1000,"reason":"Kaçırıldı: Önceki dönem skor ? (<825)"}])J"},
  };
  ASSERT_EQ(trending.size(), expected.size());
  std::size_t index = 0;
  for (const auto& [key, list] : trending.items()) {
    EXPECT_EQ(key, expected[index].first);
    EXPECT_EQ(list.dump(), expected[index].second) << key;
    ++index;
  }
}

TEST(TrendingLists, ShortHistoriesAndDegenerateInputs) {
  const std::string empty =
      R"J({"fastest_rising":[],"regime_change":[],"persistent_high":[],"low_but_rising":[],"caught_yi":[],"missed_yi":[]})J";
  // One period, or no rows: six empty lists in order.
  EXPECT_EQ(build_trending_lists(scoreboard_of({"A"}, ordered_json::array({row(1, 5, {900}, {"A"})}))).dump(), empty);
  EXPECT_EQ(build_trending_lists(scoreboard_of({"A", "B"}, ordered_json::array())).dump(), empty);

  // Two periods: the three-period change is the one-period change, no "Hızlı yükseliş"
  // part and no rapid jump; the persistent window is 2 with a minimum of 2.
  const ordered_json two = build_trending_lists(
      scoreboard_of({"A", "B"}, {row(1, 7, {40, 600}, {"A", "B"}), row(2, 8, {700, "YI"}, {"A", "B"}),
                                          row(3, 9, {900, 950}, {"A", "B"}), row(4, 0, {900, 950}, {"A", "B"})}));
  EXPECT_EQ(two["fastest_rising"].dump(),
            R"J([{"muta":3,"unvan":"F3","son_risk":9,"score_last":950,"delta_3":50,"reason":"Son 3 dönemde +50 puan artış (şu an 950)"},)J"
            R"J({"muta":1,"unvan":"F1","son_risk":7,"score_last":600,"delta_3":560,"reason":"Son 3 dönemde +560 puan artış (şu an 600)"},)J"
            R"J({"muta":4,"unvan":"F4","son_risk":0,"score_last":950,"delta_3":50,"reason":"Son 3 dönemde +50 puan artış (şu an 950)"}])J");
  EXPECT_EQ(two["regime_change"].dump(), "[]");
  EXPECT_EQ(two["persistent_high"].dump(),
            R"J([{"muta":3,"unvan":"F3","son_risk":9,"score_last":950,"reason":"Son 2 dönemin 2 tanesinde skor >= 825"}])J");
  EXPECT_EQ(two["missed_yi"].dump(),
            R"J([{"muta":2,"unvan":"F2","son_risk":8,"score_last":1000,"reason":"Kaçırıldı: Önceki dönem skor 700 (<825)"}])J");

  // A period column that no row has gives null scores, not an error.
  const ordered_json gap = build_trending_lists(scoreboard_of({"A", "B", "C"}, ordered_json::array({row(1, 5, {400, nullptr, 600}, {"A", "X", "C"})})));
  EXPECT_EQ(gap["regime_change"].dump(), "[]");
  EXPECT_EQ(gap["fastest_rising"].dump(), "[]");
}

TEST(TrendingLists, RegimeReasonPrefersTheEarlySignal) {
  const struct {
    std::vector<ordered_json> scores;
    std::string reason;
  } cases[] = {
      {{50, 400, 450, 600}, "Band geçişi: Önceden 400 skor verilmişti, şimdi 600"},  // both an early signal and a jump
      {{50, 900, 90, 700}, "Band geçişi: Hızlı sıçrama (900), şimdi 700"},
      {{10, 20, 30, 40, 499, 510}, "Band geçişi: Önceden 499 skor verilmişti, şimdi 510"},
      {{10, 99, 700, 300, 650}, "Band geçişi: Hızlı sıçrama (700), şimdi 650"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> labels = {"A", "B", "C", "D", "E", "F"};
    const ordered_json periods(std::vector<std::string>(labels.begin(), labels.begin() + c.scores.size()));
    const ordered_json trending = build_trending_lists(
        scoreboard_of(periods, ordered_json::array({row(1, 1, c.scores, labels)})));
    ASSERT_EQ(trending["regime_change"].size(), 1u) << c.reason;
    EXPECT_EQ(trending["regime_change"][0]["reason"], c.reason);
  }
}

TEST(TrendingLists, CapsEachListAtTheHighestRisksWhileTheWatchListsStayWhole) {
  ordered_json records = ordered_json::array();
  for (int i = 0; i < 600; ++i) records.push_back(row(i, i, {900, 900, 900, 900}));
  const Scoreboard scoreboard = scoreboard_of({"A", "B", "C", "D"}, records);
  const ordered_json trending = build_trending_lists(scoreboard);
  const ordered_json& persistent = trending["persistent_high"];
  ASSERT_EQ(persistent.size(), TRENDING_LIMIT);
  EXPECT_EQ(persistent.front()["son_risk"], 599);
  EXPECT_EQ(persistent.back()["son_risk"], 100);
  // The firm with risk 0 is on no list: the persistent list wants a risk.
  const WatchLists lists = build_watch_lists(scoreboard);
  ASSERT_EQ(lists[2].size(), 599u);
  EXPECT_EQ(lists[2].back().row, 1u);  // rows are in risk order: the lowest last
  EXPECT_EQ(lists[2].back().reason, "Son 4 dönemin 4 tanesinde skor >= 825");
}

TEST(TrendingLists, HistoryAppliesEachPeriodsRulesToItAndThePeriodsBefore) {
  // A riser, a firm entering YI from a high score, one in YI from the start.
  const ordered_json records = {row(1, 10, {300, 350, 600, 700}), row(2, 10, {500, 850, "YI", "YI"}),
                                row(3, 10, {"YI", "YI", "YI", "YI"})};
  const Scoreboard scoreboard = scoreboard_of({"A", "B", "C", "D"}, records);
  const std::vector<std::uint8_t> history = watch_list_history(scoreboard);
  // Bits: 0 fastest rising, 1 regime change, 2 persistent high, 3 low but rising,
  // 4 caught, 5 missed. Period A has no lists: they look at a period before.
  EXPECT_EQ(history, (std::vector<std::uint8_t>{0, 0, 0b1011, 0b1001,  //
                                                0, 0b0001, 0b10000, 0,   //
                                                0, 0, 0, 0}));

  // As of the last period the history holds the lists' firms.
  const Scoreboard full = scoreboard_of({"A", "B", "C", "D"}, {row(1, 100, {550, 600, 650, 700}), row(2, 300, {400, 450, 480, 600}),
                                                               row(3, nullptr, {50, "YI", 90, 800}), row(4, 5000, {900, 850, -1, "830"}),
                                                               row(6, 10, {"x", 150, 900, "YI"}), row(7, 20, {300, 300, 300, "YI"})});
  const WatchLists lists = build_watch_lists(full);
  const std::vector<std::uint8_t> last = watch_list_history(full);
  for (std::size_t r = 0; r < full.rows.num_rows(); ++r) {
    std::uint8_t bits = 0;
    for (std::size_t l = 0; l < lists.size(); ++l) {
      for (const WatchEntry& entry : lists[l]) bits |= entry.row == r ? 1u << l : 0u;
    }
    EXPECT_EQ(last[r * 4 + 3], bits) << "row " << r;
  }
}

TEST(TrendingLists, RejectsRowsWithoutFirmKeys) {
  EXPECT_THROW(build_trending_lists(scoreboard_of({"A", "B"}, ordered_json::array({{{"vrdA", 1}, {"vrdB", 2}}}))), std::runtime_error);
}

}  // namespace
}  // namespace vordak::pipeline
