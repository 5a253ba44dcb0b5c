#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <regex>

#include "core/clock.h"
#include "core/files.h"
#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::quiet_args;
using testing::write_notebook;
using testing::write_text;

// Engines in `dir` with the transform notebook copied into the working directory.
class MetaTest : public testing::EngineTest {
 protected:
  MetaTest() {
    write_notebook(dir / "nb_02_transform.ipynb", {"x = 1"});
    nb_hash = *file_hash((dir / "nb_02_transform.ipynb").string());
  }
  std::unique_ptr<Motor> make(const std::string& mode = "prod") {
    MotorArgs args = quiet_args(dir.path());
    args.mode = mode;
    return EngineTest::make(args);
  }
  // A record of an earlier season, written by hand.
  void earlier(const std::string& season, const std::string& kod, const std::string& content) {
    write_text(dir / "seasons" / season / "meta" / ("adim_" + kod + ".json"), content);
  }
  std::string nb_hash;
};

TEST_F(MetaTest, RecordHasItsMembersInOrderAndPythonNumberText) {
  const auto motor = make();
  const Season& season = motor->season();
  const fs::path nb = season.work_dir() / "nb_02_transform.ipynb";
  motor->meta_yaz("transform", nb, 42.04, ordered_json{{"/src/b.csv", "0123456789abcdef"}, {"/src/a.csv", "fedcba9876543210"}},
                 ordered_json{{"mode", "ozel"}, {"ek", 1}});
  const std::string text = testing::read_text(season.meta_dir() / "adim_transform.json");
  const std::regex layout(
      "\\{\n"
      "  \"notebook\": \"nb_02_transform.ipynb\",\n"
      "  \"nb_hash\": \"" + nb_hash + "\",\n"
      "  \"git_nb_hash\": null,\n"
      "  \"pkg_version\": \"" + std::string(kVersion) + "\",\n"
      "  \"season\": \"" + season.season_adi() + "\",\n"
      "  \"pipeline_ts\": \"" + season.ts() + "\",\n"
      "  \"mode\": \"ozel\",\n"
      "  \"sure_saniye\": 42.0,\n"
      "  \"tarih\": \"" + iso_text(clock.now()) + "\",\n"
      "  \"source_hashes\": \\{\n"
      "    \"/src/b.csv\": \"0123456789abcdef\",\n"
      "    \"/src/a.csv\": \"fedcba9876543210\"\n"
      "  \\},\n"
      "  \"ek\": 1\n"
      "\\}");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;

  // Ties to even on the binary value; empty maps add nothing.
  motor->meta_yaz("transform", nb, 0.25, ordered_json::object());
  const ordered_json record = parse_json(testing::read_text(season.meta_dir() / "adim_transform.json"));
  EXPECT_NE(testing::read_text(season.meta_dir() / "adim_transform.json").find("\"sure_saniye\": 0.2,"), std::string::npos);
  EXPECT_FALSE(record.contains("source_hashes"));
  EXPECT_EQ(record["mode"], "prod");
}

TEST_F(MetaTest, FirstRunWhenNoEarlierRecordOfTheModePrefix) {
  EXPECT_EQ(make()->meta_kontrol("transform"), (Decision{true, "ilk çalıştırma"}));
  earlier("T_20250101_000000_test_1.0.0", "transform", R"({"mode": "prod", "nb_hash": "x"})");
  EXPECT_EQ(make()->meta_kontrol("transform").sebep, "ilk çalıştırma");
  earlier("S_20250101_000000_prod_1.0.0", "transform", R"({"mode": "prod", "nb_hash": "x"})");
  EXPECT_EQ(make("test")->meta_kontrol("transform").sebep, "mode değişti (prod→test)");
}

TEST_F(MetaTest, NewestReadableRecordOfEarlierSeasonsIsUsed) {
  earlier("S_20250101_000000_prod_1.0.0", "transform", R"({"mode": "prod", "nb_hash": "old"})");
  earlier("S_20250301_000000_prod_1.0.0", "transform", R"({"mode": "prod", "nb_hash": "newer"})");
  earlier("S_20250401_000000_prod_1.0.0", "transform", R"({broken)");
  earlier("S_20250501_000000_prod_1.0.0", "transform", R"([1, 2])");
  earlier("X_20991231_000000_prod_1.0.0", "transform", R"({"mode": "prod", "nb_hash": "other prefix"})");
  const auto motor = make();
  // The current season's own records are never consulted.
  write_text(motor->season().meta_dir() / "adim_transform.json", R"({"mode": "prod", "nb_hash": "current"})");
  EXPECT_EQ(motor->find_prev_meta("transform").value()["nb_hash"], "newer");
  EXPECT_EQ(motor->find_prev_meta("marts"), std::nullopt);
}

TEST_F(MetaTest, ReasonTextsForEachChange) {
  const std::string season = "S_20250101_000000_prod_1.0.0";
  const fs::path source = dir / "src" / "a.csv";
  write_text(source, "1,2\n");
  const std::string source_hash = *fast_file_hash(source.string());
  const std::string gone = (dir / "src" / "gone.csv").string();
  const std::string sources =
      R"("source_hashes": {")" + gone + R"(": "1111", ")" + source.string() + R"(": ")" + source_hash + "\"}";

  const std::pair<std::string, std::string> cases[] = {
      {"{}", "mode değişti (None→prod)"},
      {R"({"mode": null})", "mode değişti (None→prod)"},
      {R"({"mode": "dev"})", "mode değişti (dev→prod)"},
      {R"({"mode": "prod", "nb_hash": "0123456789abcdef"})", "notebook değişti (01234567→" + nb_hash.substr(0, 8) + ")"},
      {R"({"mode": "prod", "nb_hash": null})", "uyumlu (?)"},
      {R"({"mode": "prod"})", "uyumlu (?)"},
      {R"({"mode": "prod", "nb_hash": ""})", "uyumlu ()"},
      {R"({"mode": "prod", "nb_hash": ")" + nb_hash + "\", " + sources + "}", "uyumlu (" + nb_hash.substr(0, 8) + ")"},
  };
  for (const auto& [record, reason] : cases) {
    earlier(season, "transform", record);
    const auto [run, why] = make()->meta_kontrol("transform");
    EXPECT_EQ(why, reason) << record;
    EXPECT_EQ(run, !reason.starts_with("uyumlu")) << record;
  }

  // Touching a source without changing it counts as a change; only its name is shown.
  timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
  ::utimensat(AT_FDCWD, source.c_str(), times, 0);
  earlier(season, "transform", R"({"mode": "prod", "nb_hash": ")" + nb_hash + "\", " + sources + "}");
  EXPECT_EQ(make()->meta_kontrol("transform"), (Decision{true, "kaynak değişti (a.csv)"}));
}

TEST_F(MetaTest, StepWithoutNotebookSkipsTheNotebookTests) {
  earlier("S_20250101_000000_prod_1.0.0", "diag_risk", R"({"mode": "prod", "nb_hash": "0123456789abcdef"})");
  EXPECT_EQ(make()->meta_kontrol("diag_risk"), (Decision{false, "uyumlu (01234567)"}));
}

}  // namespace
}  // namespace vordak::motor
