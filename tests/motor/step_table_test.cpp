#include "motor/step_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "motor/registry.h"

namespace vordak::motor {
namespace {

std::size_t position(const std::vector<std::string>& order, const std::string& kod) {
  return static_cast<std::size_t>(std::find(order.begin(), order.end(), kod) - order.begin());
}

TEST(StepTable, EveryDependencyAndReadIsARegisteredStep) {
  std::set<std::string> keys, notebooks;
  for (const StepDefinition& definition : step_table()) {
    EXPECT_TRUE(keys.insert(definition.kod).second) << "duplicate key " << definition.kod;
    EXPECT_TRUE(notebooks.insert(definition.nb).second) << "shared notebook " << definition.nb;
  }
  for (const StepDefinition& definition : step_table()) {
    for (const std::string& up : definition.upstream) EXPECT_TRUE(keys.contains(up)) << definition.kod << " <- " << up;
    for (const std::string& read : definition.reads) EXPECT_TRUE(keys.contains(read)) << definition.kod << " reads " << read;
  }
  for (const auto& [key, upstream] : inert_dependencies()) {
    EXPECT_FALSE(keys.contains(key)) << key << " is inert only when it is not a step";
    for (const std::string& up : upstream) EXPECT_TRUE(keys.contains(up));
  }
}

TEST(StepTable, DataSourcesMatchHowTheyArePassed) {
  for (const StepDefinition& definition : step_table()) {
    SCOPED_TRACE(definition.kod);
    EXPECT_EQ(definition.data_sources.empty(), definition.source_param == SourceParam::kNone);
    if (definition.source_param == SourceParam::kSourceDir) {
      EXPECT_EQ(definition.data_sources.size(), 1u);
    }
    // Only ingest steps read extracts; their notebooks decide themselves whether to run.
    if (!definition.data_sources.empty()) {
      EXPECT_TRUE(is_ingest_step(definition.kod));
    }
  }
}

TEST(StepTable, EveryOfferedStepComesAfterTheOfferedStepsItDependsOn) {
  const std::vector<std::string> offered = default_run_order();
  for (const std::string& kod : offered) {
    for (const std::string& up : find_step(kod)->upstream) {
      if (position(offered, up) < offered.size()) {
        EXPECT_LT(position(offered, up), position(offered, kod)) << kod;
      }
    }
  }
  // A run of all steps holds each step once, after every step it reads.
  const std::vector<std::string> all = full_run_order();
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), step_table().size());
  for (const std::string& kod : all) {
    for (const std::string& read : find_step(kod)->reads) EXPECT_LT(position(all, read), position(all, kod)) << kod;
  }
  // The marts show the predictions and the backtests of the same run.
  for (const char* shown : {"ml_predict", "backtest_eus", "backtest_yis", "backtest_ml"}) {
    EXPECT_LT(position(all, shown), position(all, "marts")) << shown;
  }
}

TEST(StepTable, RegistryDependenciesAndIngestListAreItsViews) {
  ASSERT_EQ(ADIM_REGISTRY.size(), step_table().size());
  std::size_t index = 0;
  for (const auto& [kod, record] : ADIM_REGISTRY) {
    const StepDefinition& definition = step_table()[index++];
    EXPECT_EQ(kod, definition.kod);
    EXPECT_EQ(record.nb, definition.nb);
    EXPECT_EQ(record.aciklama, definition.aciklama);
    EXPECT_EQ(*BAGIMLILIK.find(kod), definition.upstream);
  }
  EXPECT_EQ(BAGIMLILIK.size(), step_table().size() + inert_dependencies().size());
  EXPECT_EQ(BAGIMLILIK.find("export")->front(), "marts");
  EXPECT_EQ(ADIM_REGISTRY.find("export"), nullptr);

  std::vector<std::string> ingest;
  for (const auto& [kod, record] : ADIM_REGISTRY) {
    if (kod.starts_with("ingest_")) ingest.push_back(kod);
  }
  EXPECT_EQ(ALL_INGEST_STEPS, ingest);
  EXPECT_EQ(ALL_INGEST_STEPS.back(), "ingest_depo");  // after memzuc, unlike the file numbering

  // Registry order is neither file numbering nor run order: marts after ml_predict.
  const std::vector<std::string> keys = registry_keys();
  EXPECT_GT(position(keys, "marts"), position(keys, "ml_predict"));
}

TEST(StepTable, ParameterNamesFollowTheTableOrder) {
  EXPECT_EQ(step_param_names(*find_step("ml_predict")),
            (std::vector<std::string>{"CACHE_DIR", "TEST_MUTA_COUNT", "MODEL_DIR", "SCOREBOARD_PATH"}));
  EXPECT_EQ(step_param_names(*find_step("ingest_hedef_kapsam")),
            (std::vector<std::string>{"SOURCE_DIRS", "REPORT_PATH", "SOURCE_CONTRACTS", "ACCEPTED_CHECKS", "REJECTED_DIR"}));
  EXPECT_EQ(step_param_names(*find_step("transform")),
            (std::vector<std::string>{"LOG_DIR", "REFERANS_TARIH_LIST", "REPORT_PATH", "CROSS_CHECKS", "ACCEPTED_CHECKS"}));
  EXPECT_EQ(step_param_names(*find_step("marts")), (std::vector<std::string>{"STEP_SEASONS", "REPORT_PATH"}));
}

}  // namespace
}  // namespace vordak::motor
