// The engine's subcommands end to end: the real binary, real notebooks, the real kernel.

#include <gtest/gtest.h>

#include "core/child_process.h"
#include "motor/registry.h"
#include "motor/work_dir_lock.h"
#include "test_support.h"

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

// Tiny notebooks for every step, each recording that it ran in ran.txt.
void write_tiny_notebooks(const fs::path& dir) {
  for (const auto& [kod, record] : motor::ADIM_REGISTRY) {
    testing::write_notebook(dir / record.nb, {"params:DB_PATH = ''", "open('ran.txt', 'a').write('" + kod + "\\n')"});
  }
}

TEST(EngineCommands, UsageMistakesExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"run", "--from", "transfrom"},   {"run", "--force", "mart"}, {"plan", "--bogus"},
      {"step", "transform", "--param", "NOEQUALS"}, {"step"}, {"run", "--test-muta-count", "x"}, {"nope"},
  };
  for (const auto& args : cases) {
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(result.err.empty());
  }
  const ChildResult misspelt = vordak({"run", "--from", "transfrom"});
  EXPECT_NE(misspelt.err.find("unknown step 'transfrom'; steps: ingest_ddl, ingest_kik"), std::string::npos) << misspelt.err;
  EXPECT_EQ(vordak({"run", "--help"}).exit_status, 0);
  EXPECT_EQ(vordak({"--version"}).out, "vordak 1.0.0\n");
}

TEST(EngineCommands, UnknownStepAndFailuresExitWithOne) {
  TempDir dir;
  const ChildResult unknown = vordak({"step", "yok_boyle", "--work-dir", dir.path().string()});
  EXPECT_EQ(unknown.exit_status, 1);
  EXPECT_TRUE(unknown.out.ends_with("  [!] Bilinmeyen adım: yok_boyle\n")) << unknown.out;

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
  const motor::WorkDirLock held(dir.path(), Env::system());
  for (const char* command : {"run", "step"}) {
    std::vector<std::string> args = {command, "--work-dir", dir.path().string()};
    if (std::string(command) == "step") args.push_back("transform");
    const ChildResult result = vordak(args);
    EXPECT_EQ(result.exit_status, 1) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_NE(result.err.find("çalışma dizini başka bir çalıştırmada: " + fs::canonical(dir.path()).string() + " (pid " +
                              std::to_string(::getpid()) + ", host "),
              std::string::npos)
        << result.err;
  }
  EXPECT_FALSE(fs::exists(dir / "seasons"));
  // Reading commands do not wait for the lock.
  EXPECT_EQ(vordak({"plan", "--work-dir", dir.path().string()}).exit_status, 0);
}

TEST(EngineCommands, RefusalAtTheTerminalPromptStopsWithOne) {
  TempDir dir;
  // `script` gives the command a terminal, so the prompt is asked.
  const std::string command = std::string(VORDAK_BINARY) + " run --work-dir '" + dir.path().string() + "'";
  const ChildResult result = run_child({"sh", "-c", "printf 'hayır\\n' | script -qec \"" + command + "\" /dev/null"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("  external_data/ ile devam edilsin mi? [e/H]: "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Pipeline durduruldu — local_data_paths.json oluşturun."), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path())) << "nothing is created before the answer";
}

TEST(EngineCommands, RunSkipsUnchangedStepsAndCascadesEdits) {
  TempDir dir;
  write_tiny_notebooks(dir.path());
  const std::vector<std::string> run = {"run", "--work-dir", dir.path().string(), "--skip-ml", "--skip-backtest"};

  const ChildResult first = vordak(run);
  ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("OK:12 Atlandı:0 Hata:0"), std::string::npos) << first.out;

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

  // Editing transform re-runs it and cascades to marts; a failing notebook exits 1.
  ordered_json edited = testing::notebook({"params:DB_PATH = ''", "raise ValueError('bozuk veri')"});
  testing::write_text(dir / "nb_02_transform.ipynb", edited.dump(1));
  const ChildResult third = vordak(again);
  EXPECT_EQ(third.exit_status, 1);
  EXPECT_NE(third.out.find("  ÇALIŞTIRILIYOR — notebook değişti ("), std::string::npos) << third.out;
  EXPECT_NE(third.out.find("\n  ValueError: bozuk veri\n"), std::string::npos) << third.out;
  EXPECT_NE(third.out.find("  ATLANDI — uyumlu ("), std::string::npos) << "marts is not cascaded by a failure";
  EXPECT_NE(third.out.find("  Temizlik: 1 eski error_report silindi"), std::string::npos) << third.out;

  testing::write_notebook(dir / "nb_02_transform.ipynb", {"params:x = 2"});
  const ChildResult fourth = vordak(again);
  EXPECT_EQ(fourth.exit_status, 0) << fourth.out;
  EXPECT_NE(fourth.out.find("  ÇALIŞTIRILIYOR — cascade (transform)"), std::string::npos) << fourth.out;
}

}  // namespace
}  // namespace vordak
