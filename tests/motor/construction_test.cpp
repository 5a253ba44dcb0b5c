#include <gtest/gtest.h>

#include <regex>

#include "core/version.h"
#include "motor/motor.h"
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

TEST(MotorConstruction, DerivesPathsAndCreatesTheSeason) {
  TempDir dir;
  for (const std::string mode : {"prod", "test", "dev"}) {
    MotorArgs args = quiet_args(dir.path());
    args.mode = mode;
    Motor motor(args);
    const bool test = mode == "test";
    EXPECT_EQ(motor.db_path, fs::canonical(dir.path()) / "db" / (test ? "vrd_test.duckdb" : "vrd.duckdb"));
    EXPECT_TRUE(std::regex_match(motor.season_adi,
                                 std::regex(std::string(test ? "T" : "S") + "_\\d{8}_\\d{6}_" + mode + "_" + kVersion)))
        << motor.season_adi;
    EXPECT_EQ(motor.season_adi.substr(2, 15), motor.ts);
    EXPECT_EQ(motor.season_dir, motor.work_dir / "seasons" / motor.season_adi);
    EXPECT_TRUE(fs::is_directory(motor.meta_dir));
    EXPECT_TRUE(fs::is_directory(motor.log_dir));
    EXPECT_TRUE(fs::is_directory(motor.work_dir / "outputs" / "json"));
    EXPECT_TRUE(fs::is_empty(motor.meta_dir));
    EXPECT_EQ(motor.git_info, (ordered_json{{"git_available", false}}));
  }
}

TEST(MotorConstruction, WorkDirIsAbsoluteWithLinksResolved) {
  TempDir dir;
  fs::create_directories(dir / "real");
  fs::create_symlink(dir / "real", dir / "link");
  MotorArgs args = quiet_args(dir / "link" / ".." / "link" / "new");
  Motor motor(args);
  EXPECT_EQ(motor.work_dir, fs::canonical(dir.path()) / "real" / "new");
}

TEST(MotorConstruction, SkipBeforeFollowsRegistryOrder) {
  TempDir dir;
  const std::pair<const char*, std::size_t> cases[] = {
      {"transform", 11}, {"ingest_ddl", 0}, {"transfrom", 0}, {"", 0}, {"diag_risk", 23}};
  for (const auto& [from, expected] : cases) {
    MotorArgs args = quiet_args(dir.path());
    args.from_step = from;
    EXPECT_EQ(Motor(args)._skip_before.size(), expected) << from;
  }
  MotorArgs args = quiet_args(dir.path());
  args.from_step = "transform";
  const Motor motor(args);
  EXPECT_EQ(motor._skip_before, std::set<std::string>(ALL_INGEST_STEPS.begin(), ALL_INGEST_STEPS.end()));
}

TEST(DataPaths, FirstPathFileFoundWinsAndIsPrinted) {
  TempDir dir;
  write_text(dir / "data_paths.json", R"({"ignored": "/x"})");
  write_text(dir / "data_paths_nt.json", R"({"kredi_db": "/mnt/z/kredi", "kik_data_ham_csv": "/mnt/z/kık", "n": 3})");
  ::testing::internal::CaptureStdout();
  Motor motor(args_with_input(dir.path(), true, {}));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "  [CONFIG] data_paths_nt.json yüklendi (3 kaynak)\n"
            "    kredi_db: /mnt/z/kredi\n"
            "    kik_data_ham_csv: /mnt/z/kık\n"
            "    n: 3\n");
  ASSERT_EQ(motor.data_paths.size(), 3u);
  EXPECT_EQ(motor.data_paths[0], (std::pair<std::string, std::string>{"kredi_db", "/mnt/z/kredi"}));

  // A given non-empty map reads no file and prints nothing.
  ::testing::internal::CaptureStdout();
  Motor given(quiet_args(dir.path()));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(given.data_paths.size(), 1u);
}

TEST(DataPaths, PromptAnswersDecideWhetherToGoOn) {
  const std::string notice =
      "\n  [!] local_data_paths.json bulunamadı: {dir}\n"
      "  Kaynak veri dizinlerini belirten bir JSON dosyası gerekli.\n"
      "  Örnek: {\"kik_data_ham_csv\": \"/mnt/z/kik\", \"kredi_db\": \"/mnt/z/kredi\", ...}\n";
  for (const std::string answer : {"e", "  e  ", "EVET", "Evet"}) {
    TempDir dir;
    ::testing::internal::CaptureStdout();
    Motor motor(args_with_input(dir.path(), true, {answer}));
    std::string expected = notice + "\n  external_data/ ile devam edilsin mi? [e/H]: ";
    expected.replace(expected.find("{dir}"), 5, fs::canonical(dir.path()).string());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected) << answer;
    EXPECT_TRUE(motor.data_paths.empty());
  }
  for (const std::string answer : {"", "h", "hayır", "ee"}) {
    TempDir dir;
    ::testing::internal::CaptureStdout();
    try {
      Motor motor(args_with_input(dir.path(), true, {answer}));
      ADD_FAILURE() << "no stop for " << answer;
    } catch (const StopRequest& stop) {
      EXPECT_EQ(stop.what(), "Pipeline durduruldu — local_data_paths.json oluşturun.");
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(dir / "seasons")) << "a stopped run leaves nothing behind";
  }
}

TEST(DataPaths, NonInteractiveRunGoesOnWithExternalData) {
  TempDir dir;
  auto args = args_with_input(dir.path(), false, {});
  ::testing::internal::CaptureStdout();
  Motor motor(args);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(out.ends_with("  [AUTO] Non-interactive mod — external_data/ ile devam ediliyor\n"));
  EXPECT_EQ(static_cast<ScriptedInput&>(*args.input).asked, 0);
}

TEST(DataPaths, BadFilesFailConstructionBeforeAnythingIsCreated) {
  const std::pair<const char*, const char*> cases[] = {
      {"local_data_paths.json", "{broken"},
      {"local_data_paths.json", "[\"a\"]"},
      {"data_paths.json", "\xEF\xBB\xBF{}"},
  };
  for (const auto& [name, content] : cases) {
    TempDir dir;
    write_text(dir / name, content);
    try {
      Motor motor(args_with_input(dir.path(), false, {}));
      ADD_FAILURE() << content;
    } catch (const std::runtime_error& failure) {
      EXPECT_NE(std::string(failure.what()).find((dir / name).string()), std::string::npos) << failure.what();
    }
    EXPECT_FALSE(fs::exists(dir / "seasons"));
  }
  // End of input at the prompt is an ordinary failure.
  TempDir dir;
  ::testing::internal::CaptureStdout();
  EXPECT_THROW(Motor(args_with_input(dir.path(), true, {})), std::runtime_error);
  ::testing::internal::GetCapturedStdout();
}

TEST(MotorConstruction, WarnsOnlyWhenNotebookVersionDiffers) {
  TempDir dir;
  write_text(dir / "db" / ".nb_version", std::string(" ") + kVersion + "\n");
  ::testing::internal::CaptureStdout();
  Motor same(quiet_args(dir.path()));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  write_text(dir / "db" / ".nb_version", "0.9.1\n");
  ::testing::internal::CaptureStdout();
  Motor other(quiet_args(dir.path()));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            std::string("  ⚠ Notebook versiyonu (0.9.1) != paket (") + kVersion + ")\n    Çözüm: python -m vordak init\n");

  fs::remove(dir / "db" / ".nb_version");
  fs::create_directory(dir / "db" / ".nb_version");  // unreadable as a file
  EXPECT_THROW(Motor(quiet_args(dir.path())), std::runtime_error);
}

TEST(NotebookPath, WorkingDirectoryCopyComesFirst) {
  TempDir dir;
  Motor motor(quiet_args(dir.path()));
  EXPECT_EQ(motor._nb_path("no_such_step"), std::nullopt);
  EXPECT_EQ(motor._nb_path("transform"), std::nullopt);
  write_text(dir / "no-packaged-notebooks" / "nb_02_transform.ipynb", "{}");
  EXPECT_EQ(motor._nb_path("transform"), motor.work_dir / "no-packaged-notebooks" / "nb_02_transform.ipynb");
  write_text(dir / "nb_02_transform.ipynb", "{}");
  EXPECT_EQ(motor._nb_path("transform"), motor.work_dir / "nb_02_transform.ipynb");

  // Without an override the packaged notebooks are the source tree's in a build.
  MotorArgs packaged = quiet_args(dir.path());
  packaged.notebooks_dir.reset();
  EXPECT_EQ(Motor(packaged)._nb_path("diag_risk"), fs::path(VORDAK_SOURCE_DIR) / "notebooks" / "nb_07b_diag_risk.ipynb");
}

}  // namespace
}  // namespace vordak::motor
