#include "motor/registry.h"

#include <gtest/gtest.h>

namespace vordak::motor {
namespace {

TEST(Registry, HoldsTheTwentyFourStepsInRegistryOrder) {
  EXPECT_EQ(ADIM_REGISTRY.size(), 24u);
  const std::vector<std::string> keys = registry_keys();
  EXPECT_EQ(keys.front(), "ingest_ddl");
  EXPECT_EQ(keys.back(), "diag_risk");
  // marts comes after ml_predict although ml_predict depends on it.
  const auto position = [&](const std::string& key) { return std::find(keys.begin(), keys.end(), key) - keys.begin(); };
  EXPECT_GT(position("marts"), position("ml_predict"));
  EXPECT_EQ(ADIM_REGISTRY.find("ingest_memzuc")->nb, "nb_01k_ingest_memzuc.ipynb");
  EXPECT_EQ(ADIM_REGISTRY.find("transform")->aciklama, "Bronze → Silver (EUS patch dahil)");
}

TEST(Registry, IngestStepsAreTheElevenIngestKeysInOrder) {
  ASSERT_EQ(ALL_INGEST_STEPS.size(), 11u);
  EXPECT_EQ(ALL_INGEST_STEPS.front(), "ingest_ddl");
  EXPECT_EQ(ALL_INGEST_STEPS[9], "ingest_memzuc");
  EXPECT_EQ(ALL_INGEST_STEPS[10], "ingest_depo");
}

TEST(Registry, DependencyTableCoversEveryStepPlusInertExport) {
  EXPECT_EQ(BAGIMLILIK.size(), 25u);
  for (const auto& [key, record] : ADIM_REGISTRY) EXPECT_TRUE(BAGIMLILIK.contains(key)) << key;
  EXPECT_TRUE(BAGIMLILIK.contains("export"));
  EXPECT_EQ(ADIM_REGISTRY.find("export"), nullptr);
  EXPECT_EQ(*BAGIMLILIK.find("ml_predict"), (std::vector<std::string>{"ml_train", "marts"}));
  EXPECT_EQ(BAGIMLILIK.find("transform")->size(), 10u);
}

}  // namespace
}  // namespace vordak::motor
