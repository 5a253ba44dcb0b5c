#include "motor/layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/version.h"

namespace vordak::motor {
namespace {

TEST(Layout, SeasonNamesReadBackTheirTimeStampAndModeAndNothingElseIsOne) {
  const std::vector<std::pair<std::string, std::optional<std::pair<std::string, std::string>>>> cases = {
      {"S_20250301_141502_prod_1.0.0", std::pair{"20250301_141502", "prod"}},
      {"T_20250301_141502_test_1.0.0", std::pair{"20250301_141502", "test"}},
      {"S_20250301_141502_gece_yarisi_1.0.0", std::pair{"20250301_141502", "gece_yarisi"}},
      {"S_20250301_141502_prod", std::nullopt},
      {"S_2025031_141502_prod_1.0.0", std::nullopt},
      {"X_20250301_141502_prod_1.0.0", std::nullopt},
      {"S_backup", std::nullopt},
  };
  for (const auto& [name, expected] : cases) {
    const std::optional<SeasonName> parsed = parse_season_name(name);
    ASSERT_EQ(parsed.has_value(), expected.has_value()) << name;
    if (parsed) {
      EXPECT_EQ(std::pair(parsed->ts, parsed->mode), *expected) << name;
    }
  }
}

TEST(Layout, NamesComposedHereAreReadBackHere) {
  for (const std::string mode : {"prod", "test", "gece_yarisi"}) {
    const std::string name = season_name("20250301_141502", mode, kVersion);
    const std::optional<SeasonName> parsed = parse_season_name(name);
    ASSERT_TRUE(parsed) << name;
    EXPECT_EQ(parsed->ts, "20250301_141502");
    EXPECT_EQ(parsed->mode, mode);
    EXPECT_TRUE(name.starts_with(season_prefix(mode_of(mode)))) << name;
  }
  EXPECT_NE(season_prefix(Mode::kTest), season_prefix(Mode::kProduction));
  for (const std::string kod : {"transform", "ingest_hedef_kapsam", ""}) {
    EXPECT_EQ(step_of_meta_file(meta_file_name(kod)), kod);
  }
  for (const char* other : {"manifest_20250301_141502.json", "adim_transform_rapor.json.tmp", "adim_x.jsonl", "run.json"}) {
    EXPECT_EQ(step_of_meta_file(other), std::nullopt) << other;
  }
  EXPECT_TRUE(is_manifest_file(manifest_file_name("20250301_141502")));
  EXPECT_FALSE(is_manifest_file(meta_file_name("transform")));
}

}  // namespace
}  // namespace vordak::motor
