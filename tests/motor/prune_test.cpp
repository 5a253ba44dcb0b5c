#include "motor/prune.h"

#include <gtest/gtest.h>

#include "motor/history.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

class PruneTest : public testing::EngineTest {
 protected:
  void SetUp() override { write_registry_notebooks(); }

  // A run of transform and marts in `mode`; returns its season's name.
  std::string run(const std::string& mode = "prod") {
    MotorArgs args = testing::quiet_args(dir);
    args.mode = mode;
    RunArgs core;
    core.skip_ingest = core.skip_ml = core.skip_backtest = true;
    auto engine = make(args);
    engine->run_all(core);
    return engine->season().season_adi();
  }

  // What the next run of `mode` would decide for every step.
  std::vector<std::string> decisions(const std::string& mode = "prod") {
    MotorArgs args = testing::quiet_args(dir);
    args.mode = mode;
    args.dry_run = true;
    RunArgs all;
    all.all_steps = true;
    std::vector<std::string> lines;
    for (const PlanRow& row : make(args)->plan(all)) lines.push_back(row.kod + " " + std::string(plan_verdict_text(row.karar)) + " " + row.sebep);
    return lines;
  }

  static std::vector<std::string> names(const std::vector<fs::path>& dirs) {
    std::vector<std::string> result;
    for (const fs::path& d : dirs) result.push_back(d.filename().string());
    return result;
  }
};

TEST_F(PruneTest, KeepsTheNewestSeasonsOfEachModeAndEveryStepsNewestRecord) {
  const std::string first = run();                  // transform and marts recorded
  const std::string idle = run();                   // nothing ran
  write_notebook(dir / "nb_03_marts.ipynb", {"params:x = 'marts v2'"});
  const std::string marts_again = run();            // marts recorded
  const std::string test_run = run("test");         // both recorded, in T_
  const std::string newest = run();                 // nothing ran
  make()->adim_isle("ml_train", std::nullopt, nullptr, std::nullopt);  // a step call of prod
  const std::string step_call = read_history(dir, env, out).front().season;
  write_text(dir / "seasons" / "S_backup" / "keep.txt", "not a season name");

  const std::vector<std::string> before_prod = decisions();
  const std::vector<std::string> before_test = decisions("test");
  const PruneChoice dry = choose_prune(dir, 1, env, out);
  EXPECT_EQ(names(dry.remove), (std::vector<std::string>{newest, idle}));
  ASSERT_EQ(dry.kept_for_meta.size(), 2u);
  EXPECT_EQ(dry.kept_for_meta[0].first.filename(), marts_again);
  EXPECT_EQ(dry.kept_for_meta[0].second, std::vector<std::string>{"marts"});
  EXPECT_EQ(dry.kept_for_meta[1].first.filename(), first);
  EXPECT_EQ(dry.kept_for_meta[1].second, (std::vector<std::string>{"diag_analysis", "eus_diag", "transform"}));
  EXPECT_EQ(dry.remaining, 4u);  // the step call, marts_again, first, test_run
  EXPECT_TRUE(env.exists(dir / "seasons" / idle)) << "choosing removes nothing";

  for (const fs::path& season : dry.remove) env.remove_tree(season);
  EXPECT_EQ(decisions(), before_prod);
  EXPECT_EQ(decisions("test"), before_test);
  EXPECT_TRUE(env.exists(dir / "seasons" / "S_backup" / "keep.txt"));
  EXPECT_TRUE(env.exists(dir / "seasons" / step_call));
  EXPECT_TRUE(env.exists(dir / "seasons" / test_run));
  EXPECT_TRUE(choose_prune(dir, 1, env, out).remove.empty()) << "a second prune finds nothing more";
}

TEST_F(PruneTest, AnUnreadableRecordLeavesTheReadableOneBeforeItProtected) {
  const std::string first = run();
  write_notebook(dir / "nb_02_transform.ipynb", {"params:x = 'transform v2'"});
  const std::string second = run();  // transform, and marts by cascade
  run();
  run();
  // Change detection passes over a malformed record and uses the one before it.
  write_text(dir / "seasons" / second / "meta" / "adim_transform.json", "{broken");
  const std::vector<std::string> before = decisions();
  const PruneChoice choice = choose_prune(dir, 1, env, out);
  ASSERT_EQ(choice.kept_for_meta.size(), 2u);
  EXPECT_EQ(choice.kept_for_meta[0].first.filename(), second);
  EXPECT_EQ(choice.kept_for_meta[0].second, std::vector<std::string>{"marts"});
  EXPECT_EQ(choice.kept_for_meta[1].first.filename(), first);
  EXPECT_EQ(choice.kept_for_meta[1].second, (std::vector<std::string>{"diag_analysis", "eus_diag", "transform"}));
  for (const fs::path& season : choice.remove) env.remove_tree(season);
  EXPECT_EQ(decisions(), before);
}

TEST_F(PruneTest, AnUnreadableSeasonIsPassedOverWithAWarningAndNeverRemoved) {
  const std::string oldest = run();
  const std::string unreadable = run();
  run();
  out.take();
  testing::UnlistableDirEnv unlistable(env, dir / "seasons" / unreadable / "meta");
  const PruneChoice choice = choose_prune(dir, 1, unlistable, out);
  EXPECT_EQ(names(choice.remove), std::vector<std::string>{});
  ASSERT_EQ(choice.kept_for_meta.size(), 1u);
  EXPECT_EQ(choice.kept_for_meta[0].first.filename(), oldest);
  EXPECT_EQ(out.text(), "  [WARN] Sezon dizini okunamadı, atlandı: " + (dir / "seasons" / unreadable).string() + " (" +
                            testing::UnlistableDirEnv::message(dir / "seasons" / unreadable / "meta") + ")\n");
}

TEST_F(PruneTest, KeepsEverythingWithinTheCountAndCountsFilesInTreeSize) {
  run();
  run();
  EXPECT_TRUE(choose_prune(dir, 2, env, out).remove.empty());
  EXPECT_TRUE(choose_prune(dir / "elsewhere", 1, env, out).remove.empty());
  write_text(dir / "sized" / "a.txt", std::string(1000, 'a'));
  write_text(dir / "sized" / "deep" / "b.txt", std::string(24, 'b'));
  EXPECT_EQ(tree_size(dir / "sized", env), 1024u);
}

}  // namespace
}  // namespace vordak::motor
