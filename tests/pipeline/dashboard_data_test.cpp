#include "pipeline/dashboard_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/flows.h"
#include "scoreboard_fixture.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using testing::scoreboard_of;

TEST(DashboardData, EditionFollowsThePageModeThenTheFilter) {
  const struct {
    ordered_json extra;
    bool filtered;
    Edition edition;
    std::string key;
    std::string label;
  } cases[] = {
      {nullptr, false, Edition::kPortfolio, "portfoy", "Portföy"},
      {nullptr, true, Edition::kManager, "yonetici", "Yönetici"},
      {{{"page_mode", "admin"}}, true, Edition::kAdmin, "admin", "Yönetici · Admin"},
      {{{"page_mode", "admin"}}, false, Edition::kAdmin, "admin", "Yönetici · Admin"},
      {{{"page_mode", "other"}}, true, Edition::kManager, "yonetici", "Yönetici"},
      {ordered_json::array({"page_mode"}), false, Edition::kPortfolio, "portfoy", "Portföy"},
  };
  for (const auto& c : cases) {
    const Edition edition = edition_of(c.extra, c.filtered);
    EXPECT_EQ(edition, c.edition) << c.extra.dump() << " " << c.filtered;
    EXPECT_EQ(edition_key(edition), c.key);
    EXPECT_EQ(edition_label(edition), c.label);
  }
}

TEST(DashboardData, EditionRowsAreTheFilteredRowsByRiskWithTheirTotal) {
  const Scoreboard scoreboard = scoreboard_of({"A"}, {{{"muta", 1}, {"segment", "KOBI"}, {"son_risk", 10}},
                                                      {{"muta", 2}, {"segment", "MIKRO"}, {"son_risk", 99}},
                                                      {{"muta", 3}, {"segment", "KOBI"}, {"son_risk", nullptr}},
                                                      {{"muta", 4}, {"segment", "KOBI"}, {"son_risk", 30.5}},
                                                      {{"muta", 5}, {"segment", "KOBI"}},
                                                      {{"muta", 6}, {"segment", "KOBI"}, {"son_risk", 10}},
                                                      {{"muta", 7}, {"segment", "KOBI"}, {"son_risk", -4}}});
  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  const EditionRows selected = edition_rows(scoreboard.rows, kobi);
  EXPECT_EQ(selected.rows, (std::vector<std::size_t>{3, 0, 5, 2, 4, 6}));
  EXPECT_EQ(selected.total_risk, 46.5);
  const EditionRows all = edition_rows(scoreboard.rows, {});
  EXPECT_EQ(all.rows, (std::vector<std::size_t>{1, 3, 0, 5, 2, 4, 6}));
  EXPECT_EQ(all.total_risk, 145.5);

  const Scoreboard no_risk = scoreboard_of({"A"}, {{{"muta", 1}}, {{"muta", 2}}});
  EXPECT_EQ(edition_rows(no_risk.rows, {}).rows, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(edition_rows(no_risk.rows, {}).total_risk, 0);
  EXPECT_THROW(edition_rows(scoreboard_of({"A"}, {{{"son_risk", "çok"}}}).rows, {}), std::runtime_error);
}

std::vector<std::string> names_of(const std::vector<const Column*>& columns) {
  std::vector<std::string> names;
  for (const Column* column : columns) names.push_back(column->name());
  return names;
}

TEST(DashboardData, PageColumnsShowEveryScoreAndOnlyMembersTheRowsHave) {
  ordered_json record = {{"_vrd_neden", "x"}, {"muta", 1}, {"son_risk", 5}, {"unvan", "U"}, {"_kacirilan", 0},
                         {"_ml_yi_prob", 0.5}, {"sube_adi", "hidden"}};
  const std::vector<std::string> periods = {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"};
  for (const std::string& p : periods) {
    record["vrd" + p] = 500;
    record["df" + p] = 0;
  }
  const Scoreboard scoreboard = scoreboard_of(ordered_json(periods), ordered_json::array({record}));
  EXPECT_EQ(names_of(page_columns(scoreboard.rows, periods)),
            (std::vector<std::string>{"muta", "unvan", "son_risk", "dfP7", "vrdP1", "vrdP2", "vrdP3", "vrdP4", "vrdP5",
                                      "vrdP6", "vrdP7", "vrdP8", "_kacirilan", "_vrd_neden", "_ml_yi_prob"}));
  // With one period there is no earlier one to show a change against.
  EXPECT_EQ(names_of(page_columns(scoreboard.rows, {"P1"})),
            (std::vector<std::string>{"muta", "unvan", "son_risk", "vrdP1", "_kacirilan", "_vrd_neden", "_ml_yi_prob"}));
}

TEST(DashboardData, RowArrayIsScriptSafeAndHasNoNonFiniteNumbers) {
  Column risk("r", ColumnKind::kFloat);
  risk.push_float(std::numeric_limits<double>::infinity());
  risk.push_float(std::nan(""));
  risk.push_float(2.5);
  risk.push_absent();
  Column title("unvan", ColumnKind::kText);
  for (const char* text : {"</script>", "A&B", "Şişli", "x"}) title.push_text(text);
  Column score("vrdA", ColumnKind::kJson);
  score.push_json("YI");
  score.push_json(900);
  score.push_null();
  score.push_json(1);
  const std::vector<const Column*> columns = {&risk, &title, &score};
  EXPECT_EQ(row_array(columns, 0), R"([null,"\u003c/script\u003e","YI"])");
  EXPECT_EQ(row_array(columns, 1), R"([null,"A\u0026B",900])");
  EXPECT_EQ(row_array(columns, 2), R"([2.5,"Şişli",null])");
  EXPECT_EQ(row_array(columns, 3), R"([null,"x",1])");
}

TEST(DashboardData, EditionBandsCountTheEditionsOwnRows) {
  const ordered_json records = {
      {{"segment", "KOBI"}, {"vrdA", 100}, {"vrdB", 600}, {"rB", 10}, {"rA", 1}},
      {{"segment", "MIKRO"}, {"vrdA", 900}, {"vrdB", "YI"}, {"rB", 20}},
      {{"segment", "KOBI"}, {"vrdA", 400}, {"vrdB", 450}, {"rB", 30}},
  };
  Scoreboard scoreboard = scoreboard_of({"A", "B"}, records);
  // A filtered edition counts exactly what the builders count on its rows alone.
  const ordered_json kobi = edition_bands(scoreboard, {0, 2}, true);
  const Scoreboard kobi_only = scoreboard_of({"A", "B"}, {records[0], records[2]});
  EXPECT_EQ(kobi["band_snapshot"], build_band_snapshot(kobi_only));
  EXPECT_EQ(kobi["flow_matrix"], build_flow_matrix(kobi_only));
  EXPECT_EQ(kobi["band_snapshot"]["ALL"][1]["bands"].dump(),
            R"({"325-500":{"risk_tl":30,"count":1},"500-825":{"risk_tl":10,"count":1}})");

  // The whole portfolio shows what the mart driver stored, when it stored both.
  EXPECT_EQ(edition_bands(scoreboard, {0, 1, 2}, false)["band_snapshot"], build_band_snapshot(scoreboard));
  scoreboard.extra["band_snapshot"] = "stored";
  scoreboard.extra["flow_matrix"] = "stored too";
  const ordered_json stored = edition_bands(scoreboard, {0}, false);
  EXPECT_EQ(stored.dump(), R"({"band_snapshot":"stored","flow_matrix":"stored too"})");
  EXPECT_EQ(edition_bands(scoreboard, {0}, true)["band_snapshot"]["ALL"][0]["bands"].dump(),
            R"({"0-325":{"risk_tl":1,"count":1}})");

  const Scoreboard without_segment = scoreboard_of({"A", "B"}, {{{"vrdA", 1}, {"vrdB", 2}}});
  EXPECT_EQ(edition_bands(without_segment, {0}, true).dump(), R"({"band_snapshot":{},"flow_matrix":{}})");
}

TEST(DashboardData, ReferenceNamesKeepTheFirstNameOfEveryCode) {
  vordak::testing::TempDir dir;
  vordak::testing::write_text(dir / "ref.csv",
                              "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n"
                              "10,Şişli,1,İstanbul\r\n"
                              "10,Şişli Yeni,2,Ankara\r\n"
                              ",Kodsuz,,Kodsuz Bölge\r\n"
                              "11,\"Kadıköy, Merkez\",1,Başka\r\n"
                              "12,eksik\r\n");
  ordered_json branches = ordered_json::object();
  ordered_json regions = ordered_json::object();
  reference_names(dir / "ref.csv", branches, regions);
  EXPECT_EQ(branches.dump(), R"({"10":"Şişli","11":"Kadıköy, Merkez"})");
  EXPECT_EQ(regions.dump(), R"({"1":"İstanbul","2":"Ankara"})");
  try {
    reference_names(dir / "missing.csv", branches, regions);
    FAIL() << "read a missing reference";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find((dir / "missing.csv").string()), std::string::npos) << error.what();
  }
}

TEST(DashboardData, WatchListCountsCountFlaggedRowsOfTheSelection) {
  const Scoreboard scoreboard = scoreboard_of(
      {"A"}, {{{"_hizli_yukselen", 1}, {"_kacirilan", 1}},
              {{"_hizli_yukselen", 1}, {"_kacirilan", 0}},
              {{"_hizli_yukselen", 0}, {"_kacirilan", nullptr}},
              {{"_hizli_yukselen", 0}, {"_kacirilan", 1}}});
  EXPECT_EQ(watch_list_counts(scoreboard.rows, {0, 1, 2, 3}).dump(),
            R"({"_hizli_yukselen":2,"_rejim_degisimi":0,"_potansiyel_yi":0,"_erken_sinyal":0,"_yakalanan":0,)"
            R"("_kacirilan":2,"herhangi":3})");
  EXPECT_EQ(watch_list_counts(scoreboard.rows, {2, 3})["herhangi"], 1);
  EXPECT_EQ(watch_list_counts(scoreboard.rows, {})["herhangi"], 0);
}

TEST(DashboardData, GroupedWritesThousandsTheTurkishWay) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0"},           {999, "999"},         {1000, "1.000"},          {-1000, "-1.000"},
      {-999, "-999"},     {1234567, "1.234.567"}, {-123456, "-123.456"},
      {std::numeric_limits<std::int64_t>::min(), "-9.223.372.036.854.775.808"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(grouped(value), text) << value;
}

}  // namespace
}  // namespace vordak::pipeline
