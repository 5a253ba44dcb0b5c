#include "pipeline/html_render.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "pipeline/html_page.h"

#include "page_files.h"
#include "scoreboard_fixture.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;
using vordak::testing::write_text;

TEST(HtmlRender, EscapesEmbeddedTextForScriptsAndMarkup) {
  EXPECT_EQ(script_safe_json(R"(["</script><b>&", "a\u2028b"])"), R"(["\u003c/script\u003e\u003cb\u003e\u0026", "a\u2028b"])");
  EXPECT_EQ(script_safe_json("[\"x\xE2\x80\xA8y\xE2\x80\xA9z\"]"), R"(["x\u2028y\u2029z"])");
  // The size alone, as the administrator's lists are measured; "\xE2\x82\xBA" (₺) stays.
  for (const std::string json : {"[\"</script><b>&\"]", "[\"x\xE2\x80\xA8y\xE2\x80\xA9z\xE2\x82\xBA\xE2\"]"}) {
    EXPECT_EQ(script_safe_size(json), script_safe_json(json).size()) << json;
  }
  EXPECT_EQ(html_escape(R"(<a href="x">'&'</a>)"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

// The muta of every record in the data files of the page at `html`, in page order.
std::vector<std::int64_t> firm_keys(const std::filesystem::path& html) {
  const ordered_json files = testing::page_data(read_text(html))["veri"];
  std::vector<std::int64_t> keys;
  for (std::size_t f = 0; f < files["firma_dosyasi"].get<std::size_t>(); ++f) {
    for (const ordered_json& record : testing::data_json(html, "f-" + std::to_string(f))) keys.push_back(record[0]);
  }
  return keys;
}

TEST(HtmlRender, EveryFirmIsInTheDataFilesAndThePageHoldsOnlyItsSummary) {
  TempDir dir;
  write_text(dir / "ref.csv", "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n1,Şişli,1,İstanbul\r\n");
  ordered_json records = ordered_json::array();
  for (int i = 0; i < 3000; ++i) {
    records.push_back({{"muta", 1000 + i},
                       {"unvan", i == 2999 ? "Evil </script><script>alert(1)</script>" : "Firma " + std::to_string(i)},
                       {"segment", i % 2 == 0 ? "KOBI" : "MIKRO"},
                       {"sube_kodu", 1},
                       {"son_risk", i},
                       {"vrdA", 500}});
  }
  const Scoreboard scoreboard = testing::scoreboard_of({"A"}, records);

  testing::write_page(scoreboard, dir / "all.html", dir / "ref.csv");
  const std::string all = read_text(dir / "all.html");
  EXPECT_TRUE(all.starts_with("<!DOCTYPE html>\n<html lang=\"tr\">"));
  EXPECT_TRUE(all.ends_with("</html>\n"));
  EXPECT_LT(all.size(), 250000u);  // the summary and the scripts, no firm
  EXPECT_NE(all.find("<div class=\"fact\"><span class=\"label\">Dönem</span><span class=\"value\">A</span></div>"
                     "<div class=\"fact\"><span class=\"label\">Firma</span><span class=\"value\">3.000</span></div>"
                     "<div class=\"fact\"><span class=\"label\">Toplam risk</span>"
                     "<span class=\"value\">4.498.500 TL</span></div>"),
            std::string::npos);
  EXPECT_EQ(all.find("Firma 17"), std::string::npos);
  EXPECT_EQ(all.find("src="), std::string::npos);  // nothing is fetched
  for (std::size_t at = all.find("href=\""); at != std::string::npos; at = all.find("href=\"", at + 1)) {
    EXPECT_EQ(all.substr(at, 7), "href=\"#") << "a link leaving the page";
  }
  EXPECT_EQ(all.find("url("), std::string::npos);
  EXPECT_EQ(all.find("@import"), std::string::npos);

  // Every firm, riskiest first, in files of 256; a title full of markup is data, not markup.
  std::vector<std::int64_t> expected;
  for (int i = 2999; i >= 0; --i) expected.push_back(1000 + i);
  EXPECT_EQ(firm_keys(dir / "all.html"), expected);
  EXPECT_EQ(testing::page_data(all)["veri"]["firma_dosyasi"], 12);
  EXPECT_EQ(testing::data_json(dir / "all.html", "f-0")[0][1], "Evil </script><script>alert(1)</script>");

  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  testing::write_page(scoreboard, dir / "kobi.html", dir / "ref.csv", kobi);
  const std::vector<std::int64_t> kobi_keys = firm_keys(dir / "kobi.html");
  ASSERT_EQ(kobi_keys.size(), 1500u);
  EXPECT_EQ(kobi_keys.front(), 3998);
  EXPECT_EQ(kobi_keys.back(), 1000);

  // A cap the summary cannot meet fails, leaving neither the page nor its data.
  EXPECT_THROW(testing::write_page(scoreboard, dir / "tiny.html", dir / "ref.csv", {}, 0.001), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "tiny.html"));
  EXPECT_FALSE(std::filesystem::exists(dir / "tiny_veri"));
}

TEST(HtmlRender, EachEditionEmbedsTheChartsAndCountsOfItsOwnRows) {
  TempDir dir;
  write_text(dir / "ref.csv", "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n7,\"Kadıköy, Merkez\",2,Anadolu\r\n");
  const ordered_json records = {
      {{"muta", 1}, {"unvan", "A"}, {"segment", "KOBI"}, {"sube_kodu", 7}, {"bolge_kodu", 2}, {"son_risk", 300},
       {"vrdP", 100}, {"vrdQ", 900}, {"rP", 250}, {"rQ", 300}, {"dfP", 50}},
      {{"muta", 2}, {"unvan", "B"}, {"segment", "MIKRO"}, {"son_risk", 200}, {"vrdP", "YI"}, {"vrdQ", "YI"},
       {"rP", 200}, {"rQ", 200}, {"dfP", 0}},
      {{"muta", 3}, {"unvan", "C"}, {"segment", "KOBI"}, {"son_risk", 100}, {"vrdP", 400}, {"vrdQ", 450},
       {"rP", 90}, {"rQ", 100}, {"dfP", 10}},
  };
  Scoreboard scoreboard = testing::scoreboard_of({"P", "Q"}, records);
  // What the mart driver stores for the whole portfolio; the portfolio edition shows it.
  scoreboard.extra["flow_matrix"] = {{"ALL", ordered_json::array()}};
  scoreboard.extra["band_snapshot"] = {{"ALL", {{{"donem", "Q"}, {"bands", ordered_json::object()}}}}};
  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  const ordered_json admin_extra = {{"backtest_summary", {{"eus", nullptr}}}, {"page_mode", "admin"}};

  testing::write_page(scoreboard, dir / "p.html", dir / "ref.csv");
  testing::write_page(scoreboard, dir / "m.html", dir / "ref.csv", kobi);
  testing::write_page(scoreboard, dir / "a.html", dir / "ref.csv", kobi, 25, admin_extra);
  const ordered_json portfolio = testing::page_data(read_text(dir / "p.html"));
  const ordered_json manager = testing::page_data(read_text(dir / "m.html"));
  const ordered_json admin = testing::page_data(read_text(dir / "a.html"));

  EXPECT_EQ(portfolio["edition"], "portfoy");
  EXPECT_EQ(manager["edition"], "yonetici");
  EXPECT_EQ(admin["edition"], "admin");
  EXPECT_EQ(portfolio["kapsam"]["band_snapshot"], scoreboard.extra["band_snapshot"]);
  EXPECT_EQ(portfolio["extra"], nullptr);
  EXPECT_EQ(admin["extra"], admin_extra);
  EXPECT_EQ(portfolio["subeler"], ordered_json({{"7", "Kadıköy, Merkez"}}));
  EXPECT_EQ(portfolio["bolgeler"], ordered_json({{"2", "Anadolu"}}));
  EXPECT_EQ(portfolio["veri"]["alanlar"], ordered_json({"muta", "unvan", "segment", "sube_kodu", "bolge_kodu", "son_risk",
                                                        "degisim", "vrd", "listeler", "nedenler", "olasilik"}));
  EXPECT_EQ(portfolio["veri"]["panel_alanlari"], ordered_json({"r", "etkenler"}));
  // The lists in full, from the scores: firm 1 rose from 100 to 900.
  EXPECT_EQ(portfolio["kapsam"]["liste_sayilari"],
            ordered_json({{"_hizli_yukselen", 1}, {"_rejim_degisimi", 0}, {"_potansiyel_yi", 0}, {"_erken_sinyal", 0},
                          {"_yakalanan", 0}, {"_kacirilan", 0}, {"herhangi", 1}}));
  EXPECT_EQ(portfolio["kapsam"]["firma"], 3);
  EXPECT_EQ(portfolio["kapsam"]["toplam_risk"], 600);
  EXPECT_EQ(manager["kapsam"]["liste_sayilari"]["herhangi"], 1);
  EXPECT_EQ(manager["firma"], 2);
  EXPECT_EQ(manager["portfoy_firma"], 3);

  // The manager edition's charts count only its KOBI firms.
  EXPECT_EQ(manager["kapsam"]["band_snapshot"]["ALL"],
            ordered_json::parse(R"([{"donem":"P","bands":{"0-325":{"risk_tl":250,"count":1},"325-500":{"risk_tl":90,"count":1}}},)"
                                R"({"donem":"Q","bands":{"325-500":{"risk_tl":100,"count":1},"825-1000":{"risk_tl":300,"count":1}}}])"));
  EXPECT_EQ(manager["kapsam"]["flow_matrix"]["KOBI"][0]["flows"],
            ordered_json::parse(R"([{"from_band":"0-325","to_band":"825-1000","risk_tl":300,"count":1},)"
                                R"({"from_band":"325-500","to_band":"325-500","risk_tl":100,"count":1}])"));
  EXPECT_EQ(testing::data_json(dir / "m.html", "f-0"),
            ordered_json::parse(R"J([[1,"A","KOBI",7,2,300,50,"BkOE","01",{"_hizli_yukselen":)J"
                                R"J("Son 3 dönemde +800 puan artış (şu an 900)"},null],)J"
                                R"J([3,"C","KOBI",null,null,100,10,"GQHC","00",null,null]])J"));
  EXPECT_EQ(testing::data_json(dir / "m.html", "g-0"), ordered_json::parse(R"([["0PkD",null],["0FU",null]])"));
  EXPECT_EQ(testing::data_json(dir / "a.html", "f-0"), testing::data_json(dir / "m.html", "f-0"));
  EXPECT_EQ(testing::data_json(dir / "a.html", "g-0"), testing::data_json(dir / "m.html", "g-0"));
}

TEST(HtmlRender, PageCarriesItsSourceTheDriversAndTheTitlesOfBacktestFirms) {
  TempDir dir;
  write_text(dir / "ref.csv", "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n");
  const ordered_json records = {
      {{"muta", 11}, {"unvan", "Açık <A.Ş.>"}, {"segment", "KOBI"}, {"son_risk", 900}, {"vrd2024-05", 400}, {"vrd2024-06", 700}},
      {{"muta", 12}, {"unvan", "Dışarıda Ltd."}, {"segment", "MIKRO"}, {"son_risk", 10}, {"vrd2024-05", 100}, {"vrd2024-06", 90}},
      {{"muta", 13}, {"unvan", nullptr}, {"segment", "MIKRO"}, {"son_risk", 5}, {"vrd2024-05", 100}, {"vrd2024-06", 90}},
  };
  const Scoreboard scoreboard = testing::scoreboard_of({"2024-05", "2024-06"}, records);
  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  const ordered_json extra = {
      {"backtest_firma", {{"eus", {{"tp", {{{"entity_id", 12}, {"donem", "2024-05"}}}}, {"fp", ordered_json::array()},
                                   {"fn", {{{"entity_id", 99}}, {{"entity_id", 13}}, {{"entity_id", 11}}}}}},
                          {"yis", nullptr}}},
      {"page_mode", "admin"}};
  PageContext context;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  context.generated_at = std::chrono::system_clock::from_time_t(1717236000);  // 2024-06-01 10:00 UTC
  context.database = "vrd <test>.duckdb";
  context.step_seasons = {{"transform", "S_1"}, {"ml_predict", "S_2"}, {"backtest_eus", "S_1"}, {"yeni_adim", "S_<3>"}};
  context.drivers[11] = R"([["gecikme_gun",0.8],["skor",-0.25]])";

  testing::write_page(scoreboard, dir / "a.html", dir / "ref.csv", kobi, 25, extra, context);
  testing::write_page(scoreboard, dir / "bare.html", dir / "ref.csv");
  const std::string page = read_text(dir / "a.html");
  const ordered_json data = testing::page_data(page);

  EXPECT_NE(page.find("<div class=\"provenance\" id=\"provenance\"><span>Veri dönemi: <b>2024-05 – 2024-06</b> (2 dönem)"
                      "</span> · <span>Oluşturulma: <b>01.06.2024 10:00</b></span> · "
                      "<span>Veritabanı: <b>vrd &lt;test&gt;.duckdb</b></span> · "
                      "<span>Sezon: <b>S_1</b> (skorlar, EUS backtest); <b>S_2</b> (tahminler); <b>S_&lt;3&gt;</b> (yeni_adim)</span>"),
            std::string::npos);
  EXPECT_EQ(data["veri"]["klasor"], "a_veri/20240601-100000");
  EXPECT_EQ(testing::data_json(dir / "a.html", "g-0")[0][1], ordered_json::parse(R"([["gecikme_gun",0.8],["skor",-0.25]])"));
  // Firms the edition leaves out keep their titles for the backtest lists; unknown
  // firms and firms without a title get none.
  EXPECT_EQ(data["unvanlar"], ordered_json({{"12", "Dışarıda Ltd."}, {"11", "Açık <A.Ş.>"}}));
  EXPECT_EQ(data["kurallar"], ordered_json({{"ml_esik", 0.3}, {"liste_siniri", 500}, {"kobi_ilk", 10000},
                                            {"yonetici_risk_esigi", 50000000}}));

  // Without a context the page says only what the scoreboard tells.
  const std::string bare = read_text(dir / "bare.html");
  EXPECT_NE(bare.find("<div class=\"provenance\" id=\"provenance\"><span>Veri dönemi: <b>2024-05 – 2024-06</b> (2 dönem)"
                      "</span><a href=\"#tanimlar\""),
            std::string::npos);
  EXPECT_EQ(testing::page_data(bare)["unvanlar"], ordered_json::object());
  EXPECT_EQ(testing::data_json(dir / "bare.html", "g-0")[0][1], nullptr);
}

TEST(HtmlRender, PageTemplateIsFilledInOnePassAndItsAssetsCannotEndTheirElements) {
  EXPECT_EQ(fill_template("<b>{{A}}</b>{{B}}{{C}}", {{"A", "{{B}}"}, {"B", "x"}}), "<b>{{B}}</b>x{{C}}");
  EXPECT_EQ(fill_template("{{A", {{"A", "x"}}), "{{A");
  for (const std::string_view token :
       {"{{TITLE}}", "{{EDITION}}", "{{FACTS}}", "{{PROVENANCE}}", "{{NOTE}}", "{{STYLE}}", "{{DATA}}", "{{SCRIPT}}"}) {
    EXPECT_NE(kDashboardTemplate.find(token), std::string_view::npos) << token;
  }
  EXPECT_LT(kDashboardTemplate.find("{{DATA}}"), kDashboardTemplate.find("{{SCRIPT}}"));
  EXPECT_EQ(std::string(kDashboardScript).find("</"), std::string::npos);
  EXPECT_EQ(std::string(kDashboardStyle).find("</"), std::string::npos);
  EXPECT_EQ(std::string(kDashboardScript).find("innerHTML"), std::string::npos);
}

}  // namespace
}  // namespace vordak::pipeline
