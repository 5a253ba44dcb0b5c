#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <regex>

#include "core/clock.h"
#include "core/io_error.h"
#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::quiet_args;

// Engines in `dir` with the transform notebook copied into the working directory.
class MetaTest : public testing::EngineTest {
 protected:
  MetaTest() {
    write_notebook(dir / "nb_02_transform.ipynb", {"x = 1"});
    nb_hash = *file_hash((dir / "nb_02_transform.ipynb").string(), env);
  }
  std::unique_ptr<Motor> make(const std::string& mode = "prod") {
    MotorArgs args = quiet_args(dir);
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
  const std::string text = read_text(season.meta_dir() / "adim_transform.json");
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
      "  \"tarih\": \"" + iso_text(env.now()) + "\",\n"
      "  \"source_hashes\": \\{\n"
      "    \"/src/b.csv\": \"0123456789abcdef\",\n"
      "    \"/src/a.csv\": \"fedcba9876543210\"\n"
      "  \\},\n"
      "  \"ek\": 1\n"
      "\\}");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;

  // Ties to even on the binary value; empty maps add nothing.
  motor->meta_yaz("transform", nb, 0.25, ordered_json::object());
  const ordered_json record = parse_json(read_text(season.meta_dir() / "adim_transform.json"));
  EXPECT_NE(read_text(season.meta_dir() / "adim_transform.json").find("\"sure_saniye\": 0.2,"), std::string::npos);
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
  const std::string source_hash = *testing::quick_fingerprint(source.string(), env);
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
    const auto [run, why, blocked] = make()->meta_kontrol("transform");
    EXPECT_EQ(why, reason) << record;
    EXPECT_FALSE(blocked);
    EXPECT_EQ(run, !reason.starts_with("uyumlu")) << record;
  }

  // Touching a source without changing it counts as a change; only its name is shown.
  advance(std::chrono::seconds(1));
  write_text(source, "1,2\n");
  earlier(season, "transform", R"({"mode": "prod", "nb_hash": ")" + nb_hash + "\", " + sources + "}");
  EXPECT_EQ(make()->meta_kontrol("transform"), (Decision{true, "kaynak değişti (a.csv)"}));
}

TEST_F(MetaTest, StepWithoutNotebookSkipsTheNotebookTests) {
  earlier("S_20250101_000000_prod_1.0.0", "diag_risk", R"({"mode": "prod", "nb_hash": "0123456789abcdef"})");
  EXPECT_EQ(make()->meta_kontrol("diag_risk"), (Decision{false, "uyumlu (01234567)"}));
}

}  // namespace
}  // namespace vordak::motor

namespace vordak::motor {
namespace {

// Another Env, except that one directory cannot be read.
class UnreadableDirEnv : public EnvWrapper {
 public:
  UnreadableDirEnv(Env& target, fs::path dir) : EnvWrapper(target), dir_(std::move(dir)) {}
  std::optional<FileStatus> status(const fs::path& path) override {
    check(path);
    return EnvWrapper::status(path);
  }
  std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths) override {
    return Env::statuses(paths);
  }
  std::vector<DirEntry> list_directory(const fs::path& dir) override {
    check(dir);
    return EnvWrapper::list_directory(dir);
  }

 private:
  void check(const fs::path& path) const {
    if (path.string().starts_with(dir_.string())) {
      throw IoError::worded("Permission denied: " + path.string(), path,
                            std::make_error_code(std::errc::permission_denied));
    }
  }
  fs::path dir_;
};

class CascadeTest : public testing::EngineTest {
 protected:
  CascadeTest() { write_registry_notebooks(); }
  std::string decision_of(Motor& motor, const std::string& kod) {
    out.take();
    motor.adim_isle(kod);
    const std::string lines = out.take();
    const auto start = lines.find("  ÇALIŞTIRILIYOR — ") != std::string::npos ? lines.find("  ÇALIŞTIRILIYOR — ")
                                                                               : lines.find("  ATLANDI — ");
    return lines.substr(start + 2, lines.find('\n', start) - start - 2);
  }
  static bool up_to_date(const std::string& decision) { return decision.starts_with("ATLANDI — uyumlu ("); }
};

TEST_F(CascadeTest, AStepThatNeverRanAfterItsUpstreamChangedRunsInTheNextRun) {
  {
    const auto first = make();
    first->adim_isle("transform");
    first->adim_isle("backtest_eus");
  }
  // Unchanged since: nothing runs, as before.
  {
    const auto quiet = make();
    EXPECT_TRUE(up_to_date(decision_of(*quiet, "transform")));
    EXPECT_TRUE(up_to_date(decision_of(*quiet, "backtest_eus")));
  }
  // A run that ended after transform, before backtest_eus.
  MotorArgs forced = testing::quiet_args(dir);
  forced.force_adimlar = std::vector<std::string>{"transform"};
  make(forced)->adim_isle("transform");

  const auto next = make();
  RunArgs without_ingest;
  without_ingest.skip_ingest = true;
  for (const PlanRow& row : next->plan(without_ingest)) {
    if (row.kod == "backtest_eus") {
      EXPECT_EQ(row.sebep, "cascade (transform) — önceki sezonda");
    }
  }
  EXPECT_TRUE(up_to_date(decision_of(*next, "transform")));
  EXPECT_EQ(decision_of(*next, "backtest_eus"), "ÇALIŞTIRILIYOR — cascade (transform) — önceki sezonda");
  // Forcing and the in-run cascade keep their own reasons; a first run is a first run.
  EXPECT_EQ(decision_of(*next, "backtest_yis"), "ÇALIŞTIRILIYOR — ilk çalıştırma");
  const auto after = make();
  EXPECT_TRUE(up_to_date(decision_of(*after, "backtest_eus")));
}

TEST_F(CascadeTest, ANotebookReplacedWhileItsStepRunsRunsAgain) {
  executor->during = [this](const std::string& input) { write_notebook(input, {"params:x = 'deployed mid-step'"}); };
  make()->adim_isle("transform");
  executor->during = nullptr;
  EXPECT_TRUE(decision_of(*make(), "transform").starts_with("ÇALIŞTIRILIYOR — notebook değişti (")) << "the new text never ran";
  EXPECT_TRUE(up_to_date(decision_of(*make(), "transform")));
}

TEST_F(CascadeTest, ADirectoryThatIsNoSeasonIsNoRunOfIt) {
  make()->adim_isle("transform");
  // A copy kept beside the seasons sorts after them by name; its record is not this run's past.
  write_text(dir / "seasons" / "S_backup" / "meta" / "adim_transform.json",
                      R"({"mode": "prod", "nb_hash": "0123456789abcdef"})");
  EXPECT_TRUE(up_to_date(decision_of(*make(), "transform")));
}

TEST_F(CascadeTest, TheMartsRunWhileTheirLastPublishIsUnfinished) {
  make()->adim_isle("marts");
  EXPECT_TRUE(up_to_date(decision_of(*make(), "marts")));
  const auto motor = make();
  write_text(motor->season().output_dir() / ".vrd_outputs.publish", "[]");
  EXPECT_EQ(decision_of(*motor, "marts"), "ÇALIŞTIRILIYOR — yayın yarım kalmış (.vrd_outputs.publish)");
}

TEST_F(CascadeTest, AnIngestRunsWhenItsExtractsOrDatabaseAreNotAsItsRecordFoundThem) {
  const std::vector<std::string> kik = {(dir / "kik").string()};
  write_text(dir / "kik" / "a.csv", "1");
  write_text(dir / "db" / "vrd.duckdb", "");
  const auto decide = [&] { return make()->plan({}).at(1); };
  EXPECT_EQ(decide().sebep, "ingest — notebook kontrol eder") << "no record yet";
  {
    const auto first = make();
    first->adim_isle("ingest_ddl");
    first->adim_isle("ingest_kik", std::nullopt, nullptr, kik);
  }
  const std::string unchanged = decide().sebep;
  EXPECT_TRUE(unchanged.starts_with("uyumlu (")) << unchanged;

  const std::vector<std::pair<std::string, std::function<void()>>> changes = {
      {"a new extract", [&] { write_text(dir / "kik" / "b.csv", "2"); }},
      {"an extract gone", [&] { env.remove_file(dir / "kik" / "a.csv"); }},
      {"the database gone", [&] { env.remove_file(dir / "db" / "vrd.duckdb"); }},
  };
  for (const auto& [what, change] : changes) {
    change();
    const PlanRow row = decide();
    EXPECT_EQ(std::pair(row.karar, row.sebep), std::pair(PlanVerdict::kRuns, std::string("ingest — notebook kontrol eder")))
        << what;
    write_text(dir / "db" / "vrd.duckdb", "");
    make()->adim_isle("ingest_kik", std::nullopt, nullptr, kik);
    EXPECT_EQ(decide().karar, PlanVerdict::kSkips) << what;
  }
}

TEST_F(CascadeTest, ALoadThatChangedNothingIsNoNewsToTheStepsBelowInLaterRuns) {
  {
    const auto first = make();
    first->adim_isle("ingest_kik");
    first->adim_isle("transform");
  }
  executor->reports = {{"nb_01b_ingest_kik", R"({"kaynak_degisti": false})"}};
  MotorArgs forced = testing::quiet_args(dir);
  forced.force_adimlar = std::vector<std::string>{"ingest_kik"};
  make(forced)->adim_isle("ingest_kik");
  make(forced)->adim_isle("ingest_kik");
  EXPECT_TRUE(up_to_date(decision_of(*make(), "transform")));

  // A load that did change, in a run that ended before transform.
  executor->reports.clear();
  make(forced)->adim_isle("ingest_kik");
  EXPECT_EQ(decision_of(*make(), "transform"), "ÇALIŞTIRILIYOR — cascade (ingest_kik) — önceki sezonda");
}

TEST_F(CascadeTest, AnUnreadableSeasonIsPassedOverWithAWarning) {
  make()->adim_isle("transform");
  auto second = make();
  const fs::path older = second->season().work_dir() / "seasons" / "S_20240101_000000_prod_1.0.0";
  env.create_directories(older / "meta");
  second->adim_isle("backtest_eus");
  const fs::path newest = second->season().season_dir();
  second.reset();

  UnreadableDirEnv disk(env, newest);
  MotorArgs args = testing::quiet_args(dir);
  args.env = &disk;
  advance(std::chrono::seconds(1));
  args.executor = executor;
  Motor motor(args, out);
  out.take();
  motor.adim_isle("backtest_eus");
  const std::string lines = out.take();
  EXPECT_NE(lines.find("  [WARN] Sezon dizini okunamadı, atlandı: " + newest.string() + " (Permission denied: "),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("  ÇALIŞTIRILIYOR — ilk çalıştırma"), std::string::npos) << lines;
  motor.adim_isle("transform");
  EXPECT_EQ(out.take().find("[WARN]"), std::string::npos) << "warned once";
  motor.temizle_error_reports();
  EXPECT_EQ(out.take(), "  [WARN] Dizin okunamadı, atlandı: " + newest.string() + " (Permission denied: " +
                            newest.string() + ")\n");

  // Records read ahead on a helper thread change nothing a decision says, nor its warning.
  std::string said[2];
  for (const bool ahead : {false, true}) {
    StringSink sink;
    ChangeDetector changes(motor.season(), disk, sink);
    if (ahead) changes.read_ahead({"backtest_eus", "transform", "marts"});
    for (const char* kod : {"backtest_eus", "transform", "marts"}) {
      const Decision decision = changes.decide(kod, {});
      said[ahead] += decision.sebep + (decision.calistir ? " (runs)\n" : "\n");
    }
    said[ahead] += sink.take();
  }
  EXPECT_NE(said[0].find("[WARN] Sezon dizini okunamadı"), std::string::npos) << said[0];
  EXPECT_EQ(said[1], said[0]);
}

}  // namespace
}  // namespace vordak::motor
