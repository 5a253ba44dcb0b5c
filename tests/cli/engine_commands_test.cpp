// The engine's subcommands end to end: the real binary, real notebooks, the real kernel.

#include <gtest/gtest.h>

#include "core/child_process.h"
#include "core/text.h"
#include "motor/step_table.h"
#include "motor/work_dir_lock.h"
#include "test_support.h"
#include "tests/cli/cli_test_support.h"

namespace vordak {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

ChildResult vordak(const std::vector<std::string>& args, const fs::path& cwd = {}) {
  std::vector<std::string> argv{VORDAK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildOptions options;
  options.cwd = cwd;
  return run_child(argv, options);
}

// The season directory a run's summary names ("  Season: DIR").
fs::path season_dir_of(const std::string& out) {
  const std::size_t at = out.rfind("  Season: ");
  return out.substr(at + 10, out.find('\n', at) - at - 10);
}

TEST(EngineCommands, UsageMistakesExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"run", "--from", "transfrom"},   {"run", "--force", "mart"}, {"plan", "--bogus"},
      {"step", "transform", "--param", "NOEQUALS"}, {"step"}, {"run", "--test-muta-count", "x"}, {"nope"},
      {"step", "transform", "--from", "marts"},
  };
  for (const auto& args : cases) {
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(result.err.empty());
  }
  const ChildResult misspelt = vordak({"run", "--from", "transfrom"});
  EXPECT_EQ(misspelt.err, "vordak run: --from: unknown step 'transfrom'\n  did you mean transform? (vordak steps lists every step)\n");
  // Short: one line saying what is wrong, one hint, never the whole help.
  const std::vector<std::pair<std::vector<std::string>, std::string>> hints = {
      {{"rn"}, "vordak: unknown command 'rn'\n  did you mean run? (vordak --help lists every command)\n"},
      {{"run", "--forse", "transform"}, "vordak run: unknown option --forse\n  did you mean --force?\n"},
      {{"run", "--zzz"}, "vordak run: unknown option --zzz\n  see: vordak run --help\n"},
      {{"run", "--from", "qqq"}, "vordak run: --from: unknown step 'qqq'\n  steps: " + join(motor::step_keys(), ", ") + "\n"},
  };
  for (const auto& [args, err] : hints) {
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 2) << args[0];
    EXPECT_EQ(result.err, err);
  }
  for (const std::vector<std::string>& help : {std::vector<std::string>{"-h"}, {"--help"}, {"run", "-h"}, {"run", "--help"}}) {
    const ChildResult result = vordak(help);
    EXPECT_EQ(result.exit_status, 0) << help.back();
    EXPECT_TRUE(result.out.starts_with("usage: vordak ")) << result.out;
  }
  EXPECT_NE(vordak({"-h"}).out.find(" 75 the working directory is\nlocked by another run"), std::string::npos);
  EXPECT_EQ(vordak({"--version"}).out, "vordak 1.0.0\n");
}

TEST(EngineCommands, NewcomerMistakesAreUsageErrorsThatCreateNothing) {
  TempDir dir;
  const fs::path missing = dir / "no-such-dir";
  for (const char* command : {"run", "plan", "step"}) {
    std::vector<std::string> args = {command, "--work-dir", missing.string()};
    if (std::string(command) == "step") args.insert(args.begin() + 1, "transform");
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 2) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_NE(result.err.find("--work-dir: no such directory: " + missing.string()), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(missing));

  const ChildResult typo = vordak({"step", "ml_trian", "--work-dir", dir.path().string()});
  EXPECT_EQ(typo.exit_status, 2);
  EXPECT_EQ(typo.out, "");
  EXPECT_EQ(typo.err, "vordak step: unknown step 'ml_trian'\n  did you mean ml_train? (vordak steps lists every step)\n");
  EXPECT_TRUE(fs::is_empty(dir.path())) << "no season, no configuration";

  // A directory that is no working directory: nothing is planned, run or created there.
  for (const char* command : {"run", "plan", "step"}) {
    std::vector<std::string> args = {command, "--work-dir", dir.path().string()};
    if (std::string(command) == "step") args.insert(args.begin() + 1, "transform");
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 2) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_EQ(result.err, "vordak " + std::string(command) + ": not a Vordak working directory: " + dir.path().string() +
                              " (no notebooks, local_data_paths.json, db/.nb_version or seasons/)\n  prepare it first: "
                              "vordak init --work-dir " + dir.path().string() + "\n");
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));

  // One step: only the options that mean something for it.
  const std::string help = vordak({"step", "--help"}).out;
  for (const char* offered : {"--work-dir", "--mode", "--force ", "--source-dir", "--param", "--muta-filter", "--suffix"}) {
    EXPECT_NE(help.find(offered), std::string::npos) << offered;
  }
  for (const char* run_only : {"--force-all", "--from", "--skip-", "--referans-tarih", "--all-steps", "--test-muta-count"}) {
    EXPECT_EQ(help.find(run_only), std::string::npos) << run_only;
  }
}

TEST(EngineCommands, FailuresExitWithOne) {
  TempDir dir;
  testing::write_text(dir / "local_data_paths.json", "{broken");
  const ChildResult broken = vordak({"run", "--work-dir", dir.path().string()});
  EXPECT_EQ(broken.exit_status, 1);
  EXPECT_NE(broken.err.find("local_data_paths.json"), std::string::npos) << broken.err;

  const ChildResult check = vordak({"check", (dir / "yok.ipynb").string()});
  EXPECT_EQ(check.exit_status, 1);
  EXPECT_NE(check.out.find("[PPLN YOK] "), std::string::npos);
}

TEST(EngineCommands, ASecondRunOnTheSameWorkingDirectoryIsRefusedAtOnce) {
  TempDir dir;
  testing::write_text(dir / "local_data_paths.json", "{}");
  const motor::WorkDirLock held(dir.path(), Env::system());
  for (const char* command : {"run", "step"}) {
    std::vector<std::string> args = {command, "--work-dir", dir.path().string()};
    if (std::string(command) == "step") args.push_back("transform");
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 75) << command << ": a locked directory has a status of its own";
    EXPECT_EQ(result.out, "") << command;
    EXPECT_NE(result.err.find("çalışma dizini başka bir çalıştırmada: " + fs::canonical(dir.path()).string() + " (pid " +
                              std::to_string(::getpid()) + ", host "),
              std::string::npos)
        << result.err;
  }
  const ChildResult pruned = vordak({"prune", "--work-dir", dir.path().string(), "--keep", "1"});
  EXPECT_EQ(pruned.exit_status, 75);
  EXPECT_NE(pruned.err.find("çalışma dizini başka bir çalıştırmada: "), std::string::npos) << pruned.err;
  EXPECT_FALSE(fs::exists(dir / "seasons"));
  // Reading commands do not wait for the lock.
  for (const char* reader : {"plan", "history"}) EXPECT_EQ(vordak({reader, "--work-dir", dir.path().string()}).exit_status, 0);
}

TEST(EngineCommands, RefusalAtTheTerminalPromptStopsWithOne) {
  TempDir dir;
  testing::write_text(dir / "db" / ".nb_version", "1.0.0\n");
  // `script` gives the command a terminal, so the prompt is asked.
  const std::string command = std::string(VORDAK_BINARY) + " run --work-dir '" + dir.path().string() + "'";
  const ChildResult result = run_child({"sh", "-c", "printf 'hayır\\n' | script -qec \"" + command + "\" /dev/null"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("  external_data/ ile devam edilsin mi? [e/H]: "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Pipeline durduruldu — local_data_paths.json oluşturun."), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "nothing is created before the answer";
}

TEST(EngineCommands, RunSkipsUnchangedStepsAndCascadesEdits) {
  TempDir dir;
  testing::write_tiny_notebooks(dir.path());
  const std::vector<std::string> run = {"run", "--work-dir", dir.path().string(), "--skip-ml", "--skip-backtest"};

  const ChildResult first = vordak(run);
  ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("OK:14 Atlandı:0 Hata:0"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("  ÇALIŞTIRILIYOR — önkoşul (marts) — hiç çalışmamış\n"), std::string::npos) << first.out;

  std::vector<std::string> again = run;
  again.push_back("--skip-ingest");
  const ChildResult second = vordak(again);
  EXPECT_EQ(second.exit_status, 0);
  EXPECT_NE(second.out.find("  ATLANDI — uyumlu ("), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("OK:0 Atlandı:2 Hata:0"), std::string::npos) << second.out;

  // The dry run agrees and writes nothing.
  const auto seasons_before = std::distance(fs::directory_iterator(dir / "seasons"), fs::directory_iterator());
  std::vector<std::string> plan = again;
  plan[0] = "plan";
  const ChildResult planned = vordak(plan);
  EXPECT_NE(planned.out.find("  transform              ATLANIR  uyumlu ("), std::string::npos) << planned.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "seasons"), fs::directory_iterator()), seasons_before);

  // Editing transform re-runs it and cascades to marts; a failing notebook exits 1 with
  // one line on standard error, keeps its error report and its season's run.log.
  ordered_json edited = testing::notebook({"params:DB_PATH = ''", "raise ValueError('bozuk veri')"});
  testing::write_text(dir / "nb_02_transform.ipynb", edited.dump(1));
  const ChildResult third = vordak(again);
  EXPECT_EQ(third.exit_status, 1);
  EXPECT_NE(third.out.find("  ÇALIŞTIRILIYOR — notebook değişti ("), std::string::npos) << third.out;
  EXPECT_NE(third.out.find("\n  ValueError: bozuk veri\n"), std::string::npos) << third.out;
  EXPECT_NE(third.out.find("  ATLANDI — uyumlu ("), std::string::npos) << "marts is not cascaded by a failure";
  EXPECT_EQ(third.out.find("Temizlik"), std::string::npos) << "this run's own report is kept";
  const fs::path report = season_dir_of(third.out) / "error_report.txt";
  const fs::path log = season_dir_of(third.out) / "run.log";
  EXPECT_NE(third.out.find("  Hata raporu: " + report.string() + "\n"), std::string::npos);
  EXPECT_NE(testing::read_text(report).find("ValueError: bozuk veri"), std::string::npos);
  const std::string failure = "vordak run: başarısız adımlar: transform; hata raporu: " + report.string() + "; günlük: " + log.string() + "\n";
  EXPECT_EQ(third.err, failure);
  EXPECT_EQ(testing::read_text(log), third.out + failure) << "run.log holds the whole console, from the first line";
  EXPECT_TRUE(third.out.starts_with("  [AUTO] ") || third.out.starts_with("\n  [!] local_data_paths.json bulunamadı")) << third.out;

  testing::write_notebook(dir / "nb_02_transform.ipynb", {"params:x = 2"});
  const ChildResult fourth = vordak(again);
  EXPECT_EQ(fourth.exit_status, 0) << fourth.out;
  EXPECT_EQ(fourth.err, "");
  EXPECT_NE(fourth.out.find("  ÇALIŞTIRILIYOR — cascade (transform)"), std::string::npos) << fourth.out;
  EXPECT_NE(fourth.out.find("  Temizlik: 1 eski error_report silindi"), std::string::npos) << fourth.out;
  EXPECT_TRUE(fs::exists(dir / "outputs" / "html" / "vrd_runs.html"));
}

TEST(EngineCommands, FailureLineOnStandardErrorCannotDriveTheTerminal) {
  TempDir dir;
  const fs::path work = dir / "iş\x1b]0;ele geçirildi\x07\x1b[2J";
  testing::write_notebook(work / "nb_02_transform.ipynb", {"params:DB_PATH = ''", "raise ValueError('x')"});
  const ChildResult failed = vordak({"step", "transform", "--work-dir", work.string()});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_TRUE(failed.err.starts_with("vordak step: başarısız adımlar: transform; hata raporu: " + dir.path().string() +
                                     "/iş\\x1b]0;ele geçirildi\\x07\\x1b[2J/seasons/"))
      << failed.err;
  EXPECT_EQ(failed.err.find('\x1b'), std::string::npos) << failed.err;
}

}  // namespace
}  // namespace vordak
