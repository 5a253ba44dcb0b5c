#include "pipeline/region_editions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "core/sink.h"
#include "pipeline/cleaning.h"
#include "pipeline/marts.h"
#include "page_files.h"
#include "synth/portfolio_generator.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;

TEST(RegionEditions, PagesAreNamedByTheRegionCodeWithOddCharactersWrittenOut) {
  EXPECT_EQ(region_page("/h", "3", "_x"), "/h/vrd_dashboard_bolge_3_x.html");
  EXPECT_EQ(region_page("/h", "A/B ç-_", ""), "/h/vrd_dashboard_bolge_A~2FB~20~C3~A7-_.html");
  EXPECT_EQ(region_index_page("/h", "_x"), "/h/vrd_dashboard_bolgeler_x.html");
}

// The firm keys of an edition's data files, in page order.
std::vector<std::string> edition_firms(const std::filesystem::path& html) {
  const ordered_json files = testing::page_data(read_text(html))["veri"];
  std::vector<std::string> keys;
  for (std::size_t f = 0; f < files["firma_dosyasi"].get<std::size_t>(); ++f) {
    for (const ordered_json& record : testing::data_json(html, "f-" + std::to_string(f))) keys.push_back(text_form(record[0]));
  }
  return keys;
}

TEST(RegionEditions, EachHoldsExactlyItsRegionsManagerFirmsAndNoOutputIsReadableByOthers) {
  TempDir dir;
  std::filesystem::create_directories(dir / "data");
  const std::string db = (dir / "data" / "vrd.duckdb").string();
  synth::generate_portfolio(db, {.firms = 400, .periods = 4, .seed = 3});
  StringSink sink;
  DashboardOptions options;
  options.per_region = true;
  options.firms_per_file = 32;
  for (int run = 0; run < 2; ++run) run_marts(db, std::nullopt, "", sink, {}, Env::system(), {}, options);

  const std::filesystem::path html = dir / "outputs" / "html";
  std::map<std::string, std::string> region_of;
  const ordered_json scoreboard = parse_json(read_text(dir / "outputs" / "json" / "sample_scoreboard.json"));
  for (const ordered_json& row : scoreboard["rows"]) {
    region_of[text_form(row["muta"])] = text_form(row["bolge_kodu"]);
  }
  const std::vector<std::string> manager = edition_firms(html / "vrd_dashboard_yonetici.html");
  const ordered_json codes = testing::page_data(read_text(html / "vrd_dashboard_yonetici.html"))["veri"]["bolge_kodlari"];
  ASSERT_GT(codes.size(), 3u);
  const std::string index = read_text(region_index_page(html, ""));
  std::size_t in_regions = 0;
  for (const ordered_json& code : codes) {
    SCOPED_TRACE("region " + code.get<std::string>());
    std::vector<std::string> expected;
    for (const std::string& muta : manager) {
      if (region_of.at(muta) == code) expected.push_back(muta);
    }
    const std::filesystem::path page = region_page(html, code, "");
    EXPECT_EQ(edition_firms(page), expected);
    in_regions += expected.size();
    const ordered_json data = testing::page_data(read_text(page));
    EXPECT_EQ(data["bolge"]["kod"], code);
    EXPECT_EQ(data["veri"]["bolge_kodlari"], ordered_json::array({code}));
    EXPECT_NE(index.find("<a href=\"" + page.filename().string() + "\">"), std::string::npos);
  }
  EXPECT_EQ(in_regions, manager.size());

  // Nothing is readable by other users; each page keeps one generation of its data.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "outputs")) {
    struct stat info {};
    ::stat(entry.path().c_str(), &info);
    if (entry.path().filename() == "json" || entry.path().filename() == "html") continue;
    EXPECT_EQ(info.st_mode & 07, 0u) << entry.path();
    if (entry.is_directory() && entry.path().filename().string().ends_with("_veri")) {
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(entry.path()), {}), 1) << entry.path();
    }
  }
}

}  // namespace
}  // namespace vordak::pipeline
