#include "pipeline/predictions.h"

#include <gtest/gtest.h>

#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

using testing::scoreboard_of;

TEST(MlPredictionsList, SelectsAtOrAboveTheThresholdByRisk) {
  const Scoreboard scoreboard = scoreboard_of(
      {"A"}, {{{"muta", 1}, {"unvan", "Bir"}, {"segment", "KOBI"}, {"son_risk", 10}, {"_ml_yi_prob", 0.3}, {"_vrd_neden", "x"}},
              {{"muta", 2}, {"son_risk", nullptr}, {"_ml_yi_prob", 0.123456789}},
              {{"muta", 3}, {"son_risk", 50}, {"_ml_yi_prob", 0.29999}},
              {{"muta", 4}, {"son_risk", 50}},
              {{"muta", 5}, {"son_risk", 20}, {"_ml_yi_prob", 0.99995}},
              {{"muta", 6}, {"son_risk", 0}, {"_ml_yi_prob", 0.5}}});
  const struct {
    double threshold;
    std::string line;
    std::string list;
  } cases[] = {
      {0.3, "  [ML] yi_prob >= 0.3: 3 firma\n",
       R"([{"muta":5,"unvan":null,"segment":null,"son_risk":20,"yi_prob":1.0,"neden":""},)"
       R"({"muta":1,"unvan":"Bir","segment":"KOBI","son_risk":10,"yi_prob":0.3,"neden":"x"},)"
       R"({"muta":6,"unvan":null,"segment":null,"son_risk":0,"yi_prob":0.5,"neden":""}])"},
      {0.5, "  [ML] yi_prob >= 0.5: 2 firma\n",
       R"([{"muta":5,"unvan":null,"segment":null,"son_risk":20,"yi_prob":1.0,"neden":""},)"
       R"({"muta":6,"unvan":null,"segment":null,"son_risk":0,"yi_prob":0.5,"neden":""}])"},
      {0.1, "  [ML] yi_prob >= 0.1: 5 firma\n",
       R"([{"muta":3,"unvan":null,"segment":null,"son_risk":50,"yi_prob":0.3,"neden":""},)"
       R"({"muta":5,"unvan":null,"segment":null,"son_risk":20,"yi_prob":1.0,"neden":""},)"
       R"({"muta":1,"unvan":"Bir","segment":"KOBI","son_risk":10,"yi_prob":0.3,"neden":"x"},)"
       R"({"muta":2,"unvan":null,"segment":null,"son_risk":null,"yi_prob":0.1235,"neden":""},)"
       R"({"muta":6,"unvan":null,"segment":null,"son_risk":0,"yi_prob":0.5,"neden":""}])"},
  };
  for (const auto& c : cases) {
    StringSink sink;
    const ordered_json list = build_ml_predictions_list(scoreboard, sink, c.threshold);
    EXPECT_EQ(sink.text(), c.line);
    EXPECT_EQ(to_json_text(list, JsonWriter::Layout::kCompact), c.list);
  }
  StringSink sink;
  EXPECT_EQ(build_ml_predictions_list(scoreboard_of({"A"}, {{{"muta", 1}}}), sink).dump(), "[]");
  EXPECT_EQ(sink.text(), "  [ML] yi_prob >= 0.3: 0 firma\n");
}

}  // namespace
}  // namespace vordak::pipeline
