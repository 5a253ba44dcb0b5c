#include "motor/run_record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/operator_identity.h"
#include "motor/history.h"
#include "motor/prune.h"
#include "motor/work_dir_lock.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

class RunOrderTest : public testing::EngineTest {
 protected:
  explicit RunOrderTest(Place place = Place::kMemory) : EngineTest(place) { write_registry_notebooks(); }

  // A run of transform and marts; returns its engine, whose season holds the run's record.
  std::unique_ptr<Motor> run() {
    RunArgs core;
    core.skip_ingest = core.skip_ml = core.skip_backtest = true;
    auto engine = make();
    engine->run_all(core);
    return engine;
  }

  std::vector<std::string> history_names() {
    std::vector<std::string> names;
    for (const SeasonRecord& season : read_history(dir, env, out)) names.push_back(season.season);
    return names;
  }
};

TEST_F(RunOrderTest, AClockSetBackOrASeasonsNameNeverMakesAnOlderRunTheNewest) {
  const std::string first = run()->season().season_adi();
  // The env steps back a day (NTP), and a run loads a new transform with it.
  advance(-std::chrono::hours(24));
  write_notebook(dir / "nb_02_transform.ipynb", {"params:x = 'transform v2'"});
  const auto behind = run();
  EXPECT_LT(behind->season().season_adi(), first) << "named by the env, earlier";
  EXPECT_EQ(behind->season().sira(), 2);
  // A copy kept under a season's name, as an older version left its seasons: no record.
  const fs::path copy = dir / "seasons" / "S_20991231_235959_prod_1.0.0";
  for (const DirEntry& record : env.list_directory(dir / "seasons" / first / "meta")) {
    write_text(copy / "meta" / record.path.filename(), read_text(record.path));
  }

  // The next run compares with the run made last, and so skips the transform it loaded.
  const auto next = run();
  for (const OzetSatiri& row : next->report().ozet_satirlar()) {
    if (row.adim == "transform") {
      EXPECT_EQ(std::tuple(row.durum, row.sebep.substr(0, 6)), std::tuple(StepStatus::kSkipped, "uyumlu"));
    }
  }
  EXPECT_EQ(history_names(), (std::vector<std::string>{next->season().season_adi(), behind->season().season_adi(), first,
                                                       "S_20991231_235959_prod_1.0.0"}));
  // Prune keeps the newest runs, and the unnumbered copy counts as the oldest; the first
  // run keeps the diagnostics' newest records.
  const PruneChoice choice = choose_prune(dir, 2, env, out);
  ASSERT_EQ(choice.remove.size(), 1u);
  EXPECT_EQ(choice.remove[0].filename(), "S_20991231_235959_prod_1.0.0");
  ASSERT_EQ(choice.kept_for_meta.size(), 1u);
  EXPECT_EQ(choice.kept_for_meta[0].first.filename(), first);
}

// A lock is held by a process on a file of the disk.
class RunStateTest : public RunOrderTest {
 protected:
  RunStateTest() : RunOrderTest(Place::kDisk) {}
};

TEST_F(RunStateTest, EachRunsStateComesFromItsRecordOrItsLock) {
  const auto engine = run();
  const fs::path season = engine->season().season_dir();
  const auto state = [&] { return read_history(dir, env, out).front(); };

  const RunRecord started = *read_run_record(season, env);
  EXPECT_EQ(started.sira, 1);
  EXPECT_EQ(started.pid, static_cast<long>(::getpid()));
  EXPECT_EQ(started.durum, std::nullopt);
  EXPECT_EQ(state().durum, RunState::kStopped) << "no end and no lock: cut off";
  {
    const WorkDirLock held(engine->season().work_dir(), Env::system());
    EXPECT_EQ(state().durum, RunState::kRunning) << "its process holds the lock";
  }
  // Another process's run: a lock held by this one is not its.
  write_text(season / kRunRecordFile, "{\"sira\": 1, \"pid\": 1, \"makine\": \"" + operator_identity().host + "\"}");
  {
    const WorkDirLock held(engine->season().work_dir(), Env::system());
    EXPECT_EQ(state().durum, RunState::kStopped);
  }

  const std::vector<std::tuple<RunState, int>> ends = {{RunState::kDone, 0}, {RunState::kFailed, 1}, {RunState::kStopped, 143}};
  for (const auto& [ended, status] : ends) {
    end_run_record(season, ended, status, env);
    const SeasonRecord read = state();
    EXPECT_EQ(std::tuple(read.durum, read.exit), std::tuple(ended, std::optional(status)));
    ASSERT_TRUE(read.bitis);
    EXPECT_EQ(read.bitis->size(), 25u) << *read.bitis;
  }

  // Seasons of older versions: a manifest tells how they ended; none, that they were cut off.
  env.remove_file(season / kRunRecordFile);
  EXPECT_EQ(state().durum, RunState::kDone);
  EXPECT_EQ(state().exit, std::nullopt);
  EXPECT_EQ(state().baslangic_iso.substr(0, 19), state().baslangic);
  for (const DirEntry& entry : env.list_directory(season / "meta")) {
    if (entry.path.filename().string().starts_with("manifest_")) env.remove_file(entry.path);
  }
  EXPECT_EQ(state().durum, RunState::kStopped);
}

}  // namespace
}  // namespace vordak::motor
