#include "motor/step_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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
}

TEST(StepTable, DataSourcesMatchHowTheyArePassed) {
  for (const StepDefinition& definition : step_table()) {
    SCOPED_TRACE(definition.kod);
    EXPECT_EQ(definition.data_sources.empty(), definition.source_param == SourceParam::kNone);
    if (definition.source_param == SourceParam::kSourceDir) {
      EXPECT_EQ(definition.data_sources.size(), 1u);
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

TEST(StepTable, IngestStepsLoadWhatTheTransformReads) {
  std::vector<std::string> loaders;
  for (const StepDefinition& definition : step_table()) {
    SCOPED_TRACE(definition.kod);
    const bool ingest = definition.kind == StepKind::kIngest;
    EXPECT_EQ(is_ingest_step(definition.kod), ingest);
    // Only ingest steps read extracts, and they read no step but another ingest step.
    if (!definition.data_sources.empty()) {
      EXPECT_TRUE(ingest);
      loaders.push_back(definition.kod);
    }
    if (ingest) {
      for (const std::string& read : definition.reads) EXPECT_TRUE(is_ingest_step(read)) << read;
    }
  }
  EXPECT_EQ(find_step("transform")->reads, loaders);
  EXPECT_FALSE(is_ingest_step("ingest_nothing")) << "a key is no step by its prefix";
}

TEST(StepTable, EachParameterIsSetOnceAndNoneShadowsABaseParameter) {
  std::set<std::string> base(base_param_names().begin(), base_param_names().end());
  EXPECT_EQ(base.size(), base_param_names().size());
  for (const StepDefinition& definition : step_table()) {
    SCOPED_TRACE(definition.kod);
    const std::vector<std::string> names = step_param_names(definition);
    EXPECT_EQ(names.size(), definition.run_params.size() + (definition.source_param == SourceParam::kNone ? 0 : 1));
    std::set<std::string> seen;
    for (const std::string& name : names) {
      EXPECT_FALSE(name.empty());
      EXPECT_TRUE(seen.insert(name).second) << name << " twice";
      EXPECT_FALSE(base.contains(name)) << name;
    }
  }
}

}  // namespace
}  // namespace vordak::motor
