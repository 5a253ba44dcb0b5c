#include "pipeline/html_render.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(html_escape(R"(<a href="x">'&'</a>)"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(parse_csv("a,b\r\n\"x,\"\"y\"\"\",\r\n\"l1\nl2\",z"),
            (std::vector<std::vector<std::string>>{{"a", "b"}, {"x,\"y\"", ""}, {"l1\nl2", "z"}}));
}

TEST(HtmlRender, KeepsTheHighestRisksUnderTheCapAndSaysHowManyWereLeftOut) {
  TempDir dir;
  write_text(dir / "ref.csv", "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n1,Şişli,1,İstanbul\r\n");
  ordered_json records = ordered_json::array();
  for (int i = 0; i < 3000; ++i) {
    records.push_back({{"muta", 1000 + i},
                       {"unvan", i == 2999 ? "Evil </script><script>alert(1)</script>" : "Firma " + std::to_string(i)},
                       {"segment", i % 2 == 0 ? "KOBI" : "MIKRO"},
                       {"sube_kodu", 1},
                       {"son_risk", i},
                       {"vrdA", 500},
                       {"_hizli_yukselen", i % 100 == 0 ? 1 : 0},
                       {"_vrd_neden", "<b>neden</b>"}});
  }
  const Scoreboard scoreboard = testing::scoreboard_of({"A"}, records);

  render_html(scoreboard, dir / "all.html", dir / "ref.csv");
  const std::string all = read_text(dir / "all.html");
  EXPECT_TRUE(all.starts_with("<!DOCTYPE html>\n<html lang=\"tr\">"));
  EXPECT_TRUE(all.ends_with("</html>\n"));
  EXPECT_NE(all.find("<span>Dönem: A</span><span>Firma: 3.000</span><span>Toplam risk: 4.498.500 TL</span>"),
            std::string::npos);
  EXPECT_EQ(all.find("</script><script>alert"), std::string::npos);
  EXPECT_NE(all.find("Evil \\u003c/script\\u003e"), std::string::npos);
  EXPECT_EQ(all.find("<b>neden"), std::string::npos);
  EXPECT_EQ(all.find("Boyut sınırı"), std::string::npos);
  EXPECT_EQ(all.find("src="), std::string::npos);
  EXPECT_EQ(all.find("href="), std::string::npos);

  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  render_html(scoreboard, dir / "small.html", dir / "ref.csv", kobi, 0.05);
  const std::string small = read_text(dir / "small.html");
  EXPECT_LE(small.size(), 50000u);
  const std::size_t note = small.find("<div class=\"note\">Boyut sınırı nedeniyle en düşük riskli ");
  ASSERT_NE(note, std::string::npos);
  EXPECT_NE(small.find("<span>Firma: 1.500</span>"), std::string::npos);
  EXPECT_NE(small.find("[3998,"), std::string::npos);  // the largest KOBI risk is kept
  EXPECT_EQ(small.find("[1000,"), std::string::npos);  // the smallest is left out
  EXPECT_EQ(small.find("[1001,"), std::string::npos);  // MIKRO rows are filtered out

  EXPECT_THROW(render_html(scoreboard, dir / "tiny.html", dir / "ref.csv", {}, 0.001), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "tiny.html"));
}

}  // namespace
}  // namespace vordak::pipeline
