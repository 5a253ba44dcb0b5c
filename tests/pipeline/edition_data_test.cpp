#include "pipeline/edition_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>

#include "pipeline/flows.h"
#include "pipeline/search_index.h"
#include "page_files.h"
#include "scoreboard_fixture.h"

namespace vordak::pipeline {
namespace {

using testing::scoreboard_of;

// An edition's files kept in memory, decoded.
struct Folder {
  std::mutex mutex;
  std::map<std::string, std::string> files;
  DataFolder folder(std::size_t firms_per_file, std::size_t places_per_search_file = 16384) {
    DataFolder folder;
    folder.href = "x_veri/1";
    folder.firms_per_file = firms_per_file;
    folder.search_places_per_file = places_per_search_file;
    folder.write = [this](const std::string& name, std::string_view bytes) {
      std::lock_guard<std::mutex> lock(mutex);
      ASSERT_TRUE(name.ends_with(".js"));
      const std::string stem = name.substr(0, name.size() - 3);
      files[stem] = testing::script_payload(std::string(bytes), stem);
    };
    return folder;
  }
  ordered_json json(const std::string& name) { return ordered_json::parse(files.at(name)); }
  template <class T>
  std::vector<T> column(const std::string& name) {
    const std::string bytes = testing::base64_decoded(json(name).get<std::string>());
    std::vector<T> values(bytes.size() / sizeof(T));
    std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
  }
};

const ordered_json kRecords = {
    {{"muta", 1}, {"unvan", "Çelik İnşaat A.Ş."}, {"segment", "KOBI"}, {"sube_kodu", 7}, {"bolge_kodu", 2},
     {"son_risk", 500}, {"vrdA", 100}, {"vrdB", 600}, {"rA", 1}, {"rB", 10}},
    {{"muta", 2}, {"unvan", "Işık Gıda"}, {"segment", "MIKRO"}, {"sube_kodu", 7}, {"bolge_kodu", 3},
     {"son_risk", 400}, {"vrdA", 900}, {"vrdB", "YI"}, {"rB", 20}},
    {{"muta", 3}, {"unvan", "Çelik Tekstil"}, {"segment", "KOBI"}, {"sube_kodu", 8}, {"bolge_kodu", 2},
     {"son_risk", 300}, {"vrdA", 400}, {"vrdB", 450}, {"rB", 30}},
    {{"muta", 4}, {"unvan", "Yok Ltd."}, {"segment", "ESKK"}, {"son_risk", 200}, {"vrdA", nullptr}, {"vrdB", 99.5}},
};

TEST(EditionData, EveryScopeCountsAndChartsItsOwnFirms) {
  const Scoreboard scoreboard = scoreboard_of({"A", "B"}, kRecords);
  const FirmFacts facts = firm_facts(scoreboard, build_watch_lists(scoreboard), watch_list_history(scoreboard), {});
  Folder folder;
  const EditionData data = write_edition_data(scoreboard, {}, facts, {}, folder.folder(2));

  // Regions 2 and 3; branch 7 lies in both, so it has a part in each.
  EXPECT_EQ(data.files["kapsamlar"],
            ordered_json::parse(R"({"bolge":{"2":1,"3":2},"sube":{"7":{"id":3,"bolge":null},"8":{"id":4,"bolge":"2"}},)"
                                R"("cift":{"2|7":5,"3|7":6}})"));
  const std::map<int, std::vector<std::size_t>> rows_of_scope = {{0, {0, 1, 2, 3}}, {1, {0, 2}}, {2, {1}}, {3, {0, 1}},
                                                                 {4, {2}},         {5, {0}},    {6, {1}}};
  for (const auto& [scope, rows] : rows_of_scope) {
    SCOPED_TRACE("scope " + std::to_string(scope));
    ordered_json records = ordered_json::array();
    for (std::size_t row : rows) records.push_back(kRecords[row]);
    const Scoreboard alone = scoreboard_of({"A", "B"}, records);
    const ordered_json record = scope == 0 ? data.scope : folder.json("k-" + std::to_string(scope));
    EXPECT_EQ(record["firma"], rows.size());
    EXPECT_EQ(record["band_snapshot"], build_band_snapshot(alone));
    EXPECT_EQ(record["flow_matrix"], build_flow_matrix(alone));
  }
  EXPECT_EQ(folder.json("k-1")["toplam_risk"], 800);
  // Firm 1 rose from 100 to 600; firm 2 entered YI from 900 (caught).
  EXPECT_EQ(folder.json("k-1")["liste_sayilari"].dump(),
            R"({"_hizli_yukselen":1,"_rejim_degisimi":0,"_potansiyel_yi":0,"_erken_sinyal":1,"_yakalanan":0,"_kacirilan":0,"herhangi":1})");
  EXPECT_EQ(folder.json("k-2")["liste_sayilari"]["_yakalanan"], 1);

  // A filtered edition: only its rows, its scopes and charts.
  Folder kobi_folder;
  const RowFilter kobi = [](const Table& rows, std::size_t row) { return rows.column("segment").json(row) == "KOBI"; };
  const EditionData kobi_data = write_edition_data(scoreboard, kobi, facts, {}, kobi_folder.folder(2));
  EXPECT_EQ(kobi_data.files["kapsamlar"]["bolge"], ordered_json({{"2", 1}}));
  EXPECT_EQ(kobi_data.scope["band_snapshot"], build_band_snapshot(scoreboard_of({"A", "B"}, {kRecords[0], kRecords[2]})));
  EXPECT_EQ(kobi_folder.json("f-0").size(), 2u);
  EXPECT_FALSE(kobi_folder.files.contains("f-1"));
}

TEST(EditionData, ColumnsListsAndSearchFilesDescribeEveryFirmByPlace) {
  const Scoreboard scoreboard = scoreboard_of({"A", "B"}, kRecords);
  const FirmFacts facts = firm_facts(scoreboard, build_watch_lists(scoreboard), watch_list_history(scoreboard), {});
  Folder folder;
  const EditionData data = write_edition_data(scoreboard, {}, facts, {}, folder.folder(3, 4));

  EXPECT_EQ(data.files["firma_dosyasi"], 2);
  EXPECT_EQ(folder.json("f-1")[0][0], 4);
  EXPECT_EQ(data.files["segmentler"], ordered_json({"ESKK", "KOBI", "MIKRO"}));
  EXPECT_EQ(folder.column<std::uint16_t>("c-segment"), (std::vector<std::uint16_t>{2, 3, 2, 1}));
  EXPECT_EQ(folder.column<std::uint16_t>("c-bolge"), (std::vector<std::uint16_t>{1, 2, 1, 0}));
  // Scores: "YI" above all, none below all, others as their integer part.
  EXPECT_EQ(folder.column<std::int16_t>("c-vrdB"), (std::vector<std::int16_t>{600, 32767, 450, 99}));
  EXPECT_EQ(folder.column<std::int16_t>("c-vrdA"), (std::vector<std::int16_t>{100, 900, 400, -32768}));
  // Bits of the lists: firm 1 fastest rising and low but rising, firm 2 caught.
  EXPECT_EQ(folder.column<std::uint8_t>("c-liste"), (std::vector<std::uint8_t>{0b1001, 0b10000, 0, 0}));
  EXPECT_EQ(folder.column<std::int32_t>("l-0"), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(folder.column<std::int32_t>("l-4"), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(data.files["listeler"], ordered_json({1, 0, 0, 1, 1, 0}));
  // Titles in the Turkish alphabet's order, firms without a title last.
  EXPECT_EQ(folder.column<std::uint32_t>("c-unvan"), (std::vector<std::uint32_t>{0, 2, 1, 3}));

  // Every word of every title and key is in the index, in word order, with the firms'
  // places; a word may go on in the next file.
  std::map<std::string, std::vector<int>> found;
  std::string previous;
  ASSERT_GT(data.files["arama"].size(), 1u);
  for (std::size_t f = 0; f < data.files["arama"].size(); ++f) {
    const ordered_json entries = folder.json("a-" + std::to_string(f));
    EXPECT_EQ(entries[0][0], data.files["arama"][f]);
    for (const ordered_json& entry : entries) {
      EXPECT_LE(previous, entry[0].get<std::string>());
      previous = entry[0];
      int place = 0;
      for (std::size_t i = 1; i < entry.size(); ++i) {
        place = i == 1 ? entry[1].get<int>() : place + entry[i].get<int>();
        found[previous].push_back(place);
      }
    }
  }
  EXPECT_EQ(found["celik"], (std::vector<int>{0, 2}));
  EXPECT_EQ(found["isik"], (std::vector<int>{1}));
  EXPECT_EQ(found["3"], (std::vector<int>{2}));
  EXPECT_EQ(found["a"], (std::vector<int>{0}));
}

TEST(SearchIndex, FoldsTheTurkishWayAndSplitsIntoWords) {
  EXPECT_EQ(search_key("ÇİFTÇİ IŞIK Ünlü Ağa"), "ciftci isik unlu aga");
  EXPECT_EQ(search_key("İi̇"), "ii");  // a combining dot after i is dropped
  EXPECT_EQ(search_words("Özkan-Tekstil San.ve Tic. A.Ş. (İZMİR) 2024"),
            (std::vector<std::string>{"ozkan", "tekstil", "san", "ve", "tic", "a", "s", "izmir", "2024"}));
  EXPECT_EQ(search_words("Müller & Söhne"), (std::vector<std::string>{"muller", "sohne"}));
}

}  // namespace
}  // namespace vordak::pipeline
