#include "motor/season.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "core/clock.h"
#include "core/io_error.h"
#include "core/version.h"
#include "motor/layout.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::quiet_args;
using testing::ScriptedInput;
using testing::TempDir;
using testing::write_text;

MotorArgs args_with_input(const fs::path& dir, bool interactive, std::deque<std::string> answers) {
  MotorArgs args;
  args.work_dir = dir.string();
  args.input = std::make_shared<ScriptedInput>(interactive, std::move(answers));
  return args;
}

// Seasons in an in-memory working directory `dir` on a fake clock, their lines kept.
class SeasonTest : public ::testing::Test {
 protected:
  SeasonTest() { env.create_directories(dir); }
  Season make(const MotorArgs& args) { return Season(args, env, out); }
  void write_text(const fs::path& path, const std::string& text) { testing::write_text(env, path, text); }
  MemoryEnv env{testing::fake_clock_start()};
  const fs::path dir = testing::kMemoryWorkDir;
  StringSink out;
};

// The same on the disk, for what only a disk has: links, FIFOs, the packaged notebooks.
class SeasonOnDiskTest : public ::testing::Test {
 protected:
  Season make(const MotorArgs& args) { return Season(args, clock, out); }
  TempDir dir;
  testing::FakeClockEnv clock;
  StringSink out;
};

TEST_F(SeasonTest, NamesItsSeasonSoThatHistoryReadsItBackAndCreatesIt) {
  std::map<std::string, fs::path> database_of;
  for (const std::string mode : {"prod", "test", "dev"}) {
    MotorArgs args = quiet_args(dir);
    args.mode = mode;
    env.advance(std::chrono::seconds(1));
    const Season season = make(args);
    EXPECT_EQ(season.ts(), timestamp_text(env.now()));
    const std::optional<SeasonName> parsed = parse_season_name(season.season_adi());
    ASSERT_TRUE(parsed) << season.season_adi();
    EXPECT_EQ(parsed->ts, season.ts());
    EXPECT_EQ(parsed->mode, mode);
    EXPECT_EQ(season.season_dir().parent_path().parent_path(), season.work_dir());
    database_of[mode] = season.db_path();
    for (const fs::path& made : {season.meta_dir(), season.log_dir(), season.output_dir()}) {
      EXPECT_TRUE(env.is_directory(made)) << made;
    }
    EXPECT_TRUE(env.list_directory(season.meta_dir()).empty());
    EXPECT_EQ(season.git_info(), (ordered_json{{"git_available", false}}));
  }
  // Mode test keeps a database of its own; every other mode shares production's.
  EXPECT_NE(database_of["test"], database_of["prod"]);
  EXPECT_EQ(database_of["dev"], database_of["prod"]);
  // A dry run creates nothing.
  const fs::path other = dir / "other";
  env.create_directories(other);
  MotorArgs dry = quiet_args(other);
  dry.dry_run = true;
  make(dry);
  EXPECT_TRUE(env.list_directory(other).empty());
}

TEST_F(SeasonTest, ARunWithinTheSecondOfAnEarlierOneWaitsForTheNextSecond) {
  env.advance(std::chrono::milliseconds(300));
  const TimePoint started = env.now();
  const Season first = make(quiet_args(dir));
  MotorArgs other_mode = quiet_args(dir);
  other_mode.mode = "test";
  const Season second = make(other_mode);
  EXPECT_EQ(first.ts(), timestamp_text(started));
  EXPECT_EQ(second.ts(), timestamp_text(started + std::chrono::seconds(1)));
  EXPECT_EQ(second.season_adi(), "T_" + second.ts() + "_test_" + kVersion);
  // A dry run names its season as a run would, without waiting.
  MotorArgs dry = quiet_args(dir);
  dry.dry_run = true;
  const TimePoint before = env.now();
  EXPECT_EQ(make(dry).ts(), timestamp_text(started + std::chrono::seconds(2)));
  EXPECT_EQ(env.now(), before);
}

TEST_F(SeasonOnDiskTest, WorkDirIsAbsoluteWithLinksResolved) {
  fs::create_directories(dir / "real");
  fs::create_symlink(dir / "real", dir / "link");
  const Season season = make(quiet_args(dir / "link" / ".." / "link" / "new"));
  EXPECT_EQ(season.work_dir(), fs::canonical(dir.path()) / "real" / "new");
}

TEST_F(SeasonTest, SkipBeforeIsEveryStepAheadOfTheStartInTableOrder) {
  const std::vector<std::string> keys = step_keys();
  for (std::size_t at = 0; at < keys.size(); ++at) {
    MotorArgs args = quiet_args(dir);
    args.from_step = keys[at];
    EXPECT_EQ(make(args).skip_before(), std::set<std::string>(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(at)))
        << keys[at];
  }
  for (const char* unknown : {"transfrom", ""}) {
    MotorArgs args = quiet_args(dir);
    args.from_step = unknown;
    EXPECT_TRUE(make(args).skip_before().empty()) << unknown;
  }
}

TEST_F(SeasonTest, DataSourcesResolveToTheMapOrExternalData) {
  MotorArgs args = quiet_args(dir);
  args.data_paths = DataPaths{{"kredi_db", "/mnt/z/kredi"}};
  const Season season = make(args);
  EXPECT_EQ(season.resolve_source("kredi_db"), "/mnt/z/kredi");
  EXPECT_EQ(season.resolve_source("statik_db"), (season.work_dir() / "external_data" / "statik_db").string());
}

TEST_F(SeasonTest, ADirectoryPassedJoinedByCommasMayNotHoldOne) {
  MotorArgs args = quiet_args(dir);
  args.data_paths = DataPaths{{"kredi_db", "/mnt/a,b"}, {"rkd_donem_data", "/mnt/rkd,2024"}};
  try {
    make(args);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "veri kaynağı rkd_donem_data dizininde ',' var: /mnt/rkd,2024 (ingest_rkd dizinlerini SOURCE_DIRS "
              "içinde ',' ile ayrılmış alır)");
  }
  EXPECT_FALSE(env.exists(dir / "seasons"));
  args.data_paths = DataPaths{{"kredi_db", "/mnt/a,b"}};  // passed alone as SOURCE_DIR
  EXPECT_NO_THROW(make(args));
}

// A path file that is no JSON object stops the run naming the file: running on the
// packaged sample data instead would publish the wrong portfolio.
TEST_F(SeasonTest, PathFileThatIsNoObjectIsRefused) {
  for (const char* text : {"{\"kredi_db\": ", "[\"/mnt/z/kredi\"]"}) {
    write_text(dir / "data_paths_nt.json", text);
    try {
      make(args_with_input(dir, true, {}));
      ADD_FAILURE() << text;
    } catch (const FileRefused& refused) {
      EXPECT_EQ(refused.path(), dir / "data_paths_nt.json");
    }
  }
}

TEST_F(SeasonTest, FirstPathFileFoundWinsAndIsPrinted) {
  write_text(dir / "data_paths.json", R"({"ignored": "/x"})");
  write_text(dir / "data_paths_nt.json", R"({"kredi_db": "/mnt/z/kredi", "kik_data_ham_csv": "/mnt/z/kık", "n": 3})");
  const Season season = make(args_with_input(dir, true, {}));
  EXPECT_EQ(out.take(),
            "  [CONFIG] data_paths_nt.json yüklendi (3 kaynak)\n"
            "    kredi_db: /mnt/z/kredi\n"
            "    kik_data_ham_csv: /mnt/z/kık\n"
            "    n: 3\n");
  ASSERT_EQ(season.data_paths().size(), 3u);
  EXPECT_EQ(season.data_paths()[0], (std::pair<std::string, std::string>{"kredi_db", "/mnt/z/kredi"}));

  // A given non-empty map reads no file and prints nothing.
  const Season given = make(quiet_args(dir));
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(given.data_paths().size(), 1u);
}

TEST_F(SeasonTest, PromptAnswersDecideWhetherToGoOn) {
  const std::string notice =
      "\n  [!] local_data_paths.json bulunamadı: {dir}\n"
      "  Kaynak veri dizinlerini belirten bir JSON dosyası gerekli.\n"
      "  Örnek: {\"kik_data_ham_csv\": \"/mnt/z/kik\", \"kredi_db\": \"/mnt/z/kredi\", ...}\n";
  int works = 0;
  for (const std::string answer : {"e", "  e  ", "EVET", "Evet"}) {
    const fs::path work = dir / std::to_string(++works);
    env.create_directories(work);
    const Season season = make(args_with_input(work, true, {answer}));
    std::string expected = notice + "\n  external_data/ ile devam edilsin mi? [e/H]: ";
    expected.replace(expected.find("{dir}"), 5, work.string());
    EXPECT_EQ(out.take(), expected) << answer;
    EXPECT_TRUE(season.data_paths().empty());
  }
  for (const std::string answer : {"", "h", "hayır", "ee"}) {
    const fs::path work = dir / std::to_string(++works);
    env.create_directories(work);
    try {
      make(args_with_input(work, true, {answer}));
      ADD_FAILURE() << "no stop for " << answer;
    } catch (const StopRequest& stop) {
      EXPECT_EQ(std::string(stop.what()), "Pipeline durduruldu — local_data_paths.json oluşturun.");
    }
    EXPECT_FALSE(env.exists(work / "seasons")) << "a stopped run leaves nothing behind";
  }
}

TEST_F(SeasonTest, NonInteractiveRunGoesOnWithExternalData) {
  for (const bool no_operator : {false, true}) {
    auto args = args_with_input(dir, false, {});
    if (no_operator) args.input.reset();
    make(args);
    EXPECT_TRUE(out.take().ends_with("  [AUTO] Non-interactive mod — external_data/ ile devam ediliyor\n"));
    if (!no_operator) {
      EXPECT_EQ(static_cast<ScriptedInput&>(*args.input).asked, 0);
    }
  }
}

TEST_F(SeasonOnDiskTest, BadFilesFailConstructionBeforeAnythingIsCreated) {
  const auto text = [](const char* content) { return [content](const fs::path& file) { write_text(file, content); }; };
  const struct {
    const char* name;
    std::function<void(const fs::path&)> plant;
  } cases[] = {
      {"local_data_paths.json", text("{broken")},
      {"local_data_paths.json", text("[\"a\"]")},
      {"data_paths.json", text("\xEF\xBB\xBF{}")},
      // Neither may block the run that holds the lock, nor fill its memory.
      {"local_data_paths.json", [](const fs::path& file) { fs::create_symlink("/dev/zero", file); }},
      {"local_data_paths.json", [](const fs::path& file) { ::mkfifo(file.c_str(), 0600); }},
      {"data_paths_nt.json", [](const fs::path& file) {
         write_text(file, "{}");
         fs::resize_file(file, (16 << 20) + 1);
       }},
  };
  for (const auto& c : cases) {
    TempDir work;
    c.plant(work / c.name);
    try {
      make(args_with_input(work.path(), false, {}));
      ADD_FAILURE() << c.name;
    } catch (const std::runtime_error& failure) {
      EXPECT_NE(std::string(failure.what()).find((work / c.name).string()), std::string::npos) << failure.what();
    }
    EXPECT_FALSE(fs::exists(work / "seasons"));
  }
  // End of input at the prompt is an ordinary failure.
  EXPECT_THROW(make(args_with_input(dir.path(), true, {})), std::runtime_error);
}

TEST_F(SeasonTest, WarnsOnlyWhenNotebookVersionDiffers) {
  write_text(dir / "db" / ".nb_version", std::string(" ") + kVersion + "\n");
  make(quiet_args(dir));
  EXPECT_EQ(out.take(), "");

  write_text(dir / "db" / ".nb_version", "0.9.1\n");
  make(quiet_args(dir));
  EXPECT_EQ(out.take(),
            std::string("  ⚠ Notebook versiyonu (0.9.1) != paket (") + kVersion + ")\n    Çözüm: python -m vordak init\n");

  env.remove_file(dir / "db" / ".nb_version");
  env.create_directories(dir / "db" / ".nb_version");  // unreadable as a file
  EXPECT_THROW(make(quiet_args(dir)), std::runtime_error);
}

TEST_F(SeasonOnDiskTest, NotebookComesFromTheWorkingDirectoryOnly) {
  const Season season = make(quiet_args(dir.path()));
  EXPECT_EQ(season.nb_path("no_such_step"), std::nullopt);
  // The packaged copy exists (the source tree's, in a build) and is never taken.
  ASSERT_TRUE(fs::exists(fs::path(VORDAK_SOURCE_DIR) / "notebooks" / "nb_02_transform.ipynb"));
  EXPECT_EQ(season.nb_path("transform"), std::nullopt);
  write_text(dir / "nb_02_transform.ipynb", "{}");
  EXPECT_EQ(season.nb_path("transform"), season.work_dir() / "nb_02_transform.ipynb");
}

}  // namespace
}  // namespace vordak::motor
