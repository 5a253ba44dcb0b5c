#include "pipeline/admin_lists.h"

#include <gtest/gtest.h>

#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

// 400 predictions, probabilities rising with the key; a long and a short backtest list.
ordered_json admin_extra() {
  ordered_json predictions = ordered_json::array();
  for (int i = 0; i < 400; ++i) predictions.push_back({{"entity_id", i}, {"yi_prob", i / 400.0}});
  ordered_json long_list = ordered_json::array();
  for (int i = 0; i < 300; ++i) long_list.push_back({{"entity_id", i}, {"unvan", "Firma"}});
  return {{"page_mode", "admin"},
          {"ml_predictions", predictions},
          {"backtest_firma", {{"eus", {{"tp", long_list}, {"fn", {{{"entity_id", 7}}}}}}}}};
}

std::vector<int> keys_of(const ordered_json& list) {
  std::vector<int> keys;
  for (const ordered_json& entry : list) keys.push_back(entry["entity_id"].get<int>());
  return keys;
}

TEST(FitAdminLists, KeepsTheMostProbableAndRiskiestEntriesInTheirOrder) {
  // Current risk falls with the key, so the first firms of the backtest list are the riskiest.
  ordered_json records = ordered_json::array();
  for (int i = 0; i < 300; ++i) records.push_back({{"muta", i}, {"son_risk", 1000 - i}});
  const Table rows = testing::rows_of(records);

  // The page is measured with the lists emptied, and gets them back.
  const auto page_size = [](const ordered_json& emptied) {
    EXPECT_EQ(emptied["ml_predictions"], ordered_json::array());
    EXPECT_EQ(emptied["backtest_firma"]["eus"]["fn"], ordered_json::array());
    return 26'000 + to_json_text(emptied, JsonWriter::Layout::kCompact).size();
  };
  ordered_json roomy = admin_extra();
  EXPECT_TRUE(fit_admin_lists(roomy, rows, 10'000'000, page_size).empty());
  EXPECT_EQ(roomy, admin_extra());

  ordered_json extra = admin_extra();
  const ordered_json left_out = fit_admin_lists(extra, rows, 30'000, page_size);
  const std::vector<int> predictions = keys_of(extra["ml_predictions"]);
  const std::vector<int> tp = keys_of(extra["backtest_firma"]["eus"]["tp"]);
  ASSERT_FALSE(predictions.empty());
  ASSERT_FALSE(tp.empty());
  // The most probable predictions, still in their order: a run of keys up to the last.
  EXPECT_EQ(predictions.back(), 399);
  EXPECT_EQ(predictions.front(), 400 - static_cast<int>(predictions.size()));
  EXPECT_EQ(tp.front(), 0);
  EXPECT_EQ(tp.back(), static_cast<int>(tp.size()) - 1);
  // The one-entry list needs less than its share and is kept whole.
  EXPECT_EQ(keys_of(extra["backtest_firma"]["eus"]["fn"]), std::vector<int>{7});
  EXPECT_EQ(left_out, (ordered_json{{"ml_predictions", 400 - predictions.size()},
                                    {"backtest_firma", {{"eus", {{"tp", 300 - tp.size()}}}}}}));
  EXPECT_LE(to_json_text(extra, JsonWriter::Layout::kCompact).size(), 15'000u + 200);

  const std::vector<std::string> notes = left_out_notes(left_out, extra);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0], "Boyut sınırı nedeniyle ML tahmin listesinde en düşük olasılıklı " +
                          std::to_string(400 - predictions.size()) +
                          " firma gösterilmiyor (gösterilen: " + std::to_string(predictions.size()) + ").");
  EXPECT_TRUE(notes[1].starts_with("Boyut sınırı nedeniyle backtest firma listelerinde en düşük riskli ")) << notes[1];
}

}  // namespace
}  // namespace vordak::pipeline
