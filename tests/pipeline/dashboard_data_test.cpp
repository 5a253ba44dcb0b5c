#include "pipeline/dashboard_data.h"

#include <gtest/gtest.h>

#include "core/csv_reader.h"

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

TEST(DashboardData, ReferenceNamesKeepTheFirstNameOfEveryCode) {
  const BranchNames names = reference_names(parse_csv(
      "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n"
      "10,Şişli,1,İstanbul\r\n"
      "10,Şişli Yeni,2,Ankara\r\n"
      ",Kodsuz,,Kodsuz Bölge\r\n"
      "11,\"Kadıköy, Merkez\",1,Başka\r\n"
      "12,eksik\r\n"));
  EXPECT_EQ(names.branches.dump(), R"({"10":"Şişli","11":"Kadıköy, Merkez"})");
  EXPECT_EQ(names.regions.dump(), R"({"1":"İstanbul","2":"Ankara"})");
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
