#include "motor/fingerprint.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "core/memory_env.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_text;

std::string md5_16(const std::string& text) {
  // Reference digests from the coreutils tools, not from the code under test.
  testing::TempDir dir;
  write_text(dir / "in", text);
  FILE* pipe = ::popen(("md5sum " + (dir / "in").string()).c_str(), "r");
  char buf[64] = {};
  std::fgets(buf, sizeof buf, pipe);
  ::pclose(pipe);
  return std::string(buf, 16);
}

void set_mtime(const fs::path& path, long seconds, long nanos) {
  timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(NotebookCodeHash, HashesOnlyConcatenatedCellSources) {
  MemoryEnv env;
  const fs::path dir = "/";
  // Lists of lines and single texts, code and markdown cells alike, no separators.
  env.write_file_atomic(dir / "a.ipynb",
                        R"({"cells":[{"cell_type":"code","source":["x = 1\n","y = 2"],"outputs":[1],"execution_count":4},)"
                        R"({"cell_type":"markdown","source":"# Başlık"}],"metadata":{"k":1},"nbformat":4})");
  EXPECT_EQ(file_hash((dir / "a.ipynb").string(), env), md5_16("x = 1\ny = 2# Başlık"));

  // Other outputs, metadata and counts, and text moved across a cell boundary: same hash.
  env.write_file_atomic(dir / "b.ipynb",
                        R"({"cells":[{"cell_type":"code","source":"x = 1\ny"},{"cell_type":"markdown","source":[" = 2# Başlık"]}],)"
                        R"("metadata":{"other":true}})");
  EXPECT_EQ(file_hash((dir / "b.ipynb").string(), env), file_hash((dir / "a.ipynb").string(), env));

  env.write_file_atomic(dir / "empty.ipynb", R"({"cells":[]})");
  EXPECT_EQ(file_hash((dir / "empty.ipynb").string(), env), "d41d8cd98f00b204");
  env.write_file_atomic(dir / "nocells.ipynb", R"({"metadata":{}})");
  EXPECT_EQ(file_hash((dir / "nocells.ipynb").string(), env), "d41d8cd98f00b204");
}

TEST(NotebookCodeHash, BadNotebooksHaveNoFingerprint) {
  MemoryEnv env;
  const fs::path dir = "/";
  const std::pair<const char*, const char*> cases[] = {
      {"bom.ipynb", "\xEF\xBB\xBF{\"cells\":[]}"},
      {"invalid.ipynb", "{not json"},
      {"cell.ipynb", R"({"cells":[1]})"},
      {"source.ipynb", R"({"cells":[{"source":42}]})"},
      {"mixed.ipynb", R"({"cells":[{"source":["a",1]}]})"},
      {"latin1.ipynb", "{\"cells\":[{\"source\":\"\xFE\"}]}"},
  };
  for (const auto& [name, content] : cases) {
    env.write_file_atomic(dir / name, content);
    EXPECT_EQ(file_hash((dir / name).string(), env), std::nullopt) << name;
  }
  EXPECT_EQ(file_hash((dir / "missing" / "x.csv").string(), env), std::nullopt);
  EXPECT_EQ(testing::quick_fingerprint("/no/such/dir/x.csv", Env::system()), std::nullopt);
}

TEST(FileHash, OtherFilesAreHashedByTheirBytes) {
  TempDir dir;
  // Not notebooks by name: an upper-case extension, a name that is only ".ipynb".
  for (const char* name : {"a.IPYNB", ".ipynb", "data.csv"}) {
    write_text(dir / name, "{not json");
    FILE* pipe = ::popen(("sha256sum '" + (dir / name).string() + "'").c_str(), "r");
    char buf[80] = {};
    std::fgets(buf, sizeof buf, pipe);
    ::pclose(pipe);
    EXPECT_EQ(file_hash((dir / name).string(), Env::system()), std::string(buf, 16)) << name;
  }
  // Larger than one 8192-byte chunk.
  write_text(dir / "big.bin", std::string(20000, 'x'));
  FILE* pipe = ::popen(("sha256sum " + (dir / "big.bin").string()).c_str(), "r");
  char buf[80] = {};
  std::fgets(buf, sizeof buf, pipe);
  ::pclose(pipe);
  EXPECT_EQ(file_hash((dir / "big.bin").string(), Env::system()), std::string(buf, 16));
}

TEST(QuickFingerprint, HashesNameSizeAndNanosecondTime) {
  TempDir dir;
  write_text(dir / "a.csv", "0123456789");
  set_mtime(dir / "a.csv", 1700000000, 123456789);
  EXPECT_EQ(testing::quick_fingerprint((dir / "a.csv").string(), Env::system()), md5_16("a.csv|10|1700000000123456789"));

  set_mtime(dir / "a.csv", 1700000000, 5);
  EXPECT_EQ(testing::quick_fingerprint((dir / "a.csv").string(), Env::system()), md5_16("a.csv|10|1700000000000000005"));

  // Before the epoch: negative whole nanoseconds (-1.5 s).
  set_mtime(dir / "a.csv", -2, 500000000);
  EXPECT_EQ(testing::quick_fingerprint((dir / "a.csv").string(), Env::system()), md5_16("a.csv|10|-1500000000"));

  // Only the last component enters: relative and absolute paths agree.
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_EQ(testing::quick_fingerprint("a.csv", Env::system()),
            testing::quick_fingerprint((dir / "a.csv").string(), Env::system()));
  fs::current_path(previous);
}

class GitTest : public ::testing::Test {
 protected:
  void git(const std::vector<std::string>& args) {
    std::string command = "cd '" + dir.path().string() + "' && git";
    for (const auto& arg : args) command += " '" + arg + "'";
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
  }
  TempDir dir;
};

TEST_F(GitTest, DescribesRepositoryStates) {
  // Outside any repository.
  EXPECT_EQ(git_info(dir.path().string(), Env::system()), (ordered_json{{"git_available", false}}));

  git({"init", "-q", "-b", "ana"});
  EXPECT_EQ(git_info(dir.path().string(), Env::system()), (ordered_json{{"git_available", false}, {"git_branch", "ana"}}));

  write_text(dir / "f.txt", "x\n");
  git({"add", "f.txt"});
  git({"-c", "user.name=t", "-c", "user.email=t@t", "commit", "-q", "-m", "m"});
  const ordered_json info = git_info(dir.path().string(), Env::system());
  ASSERT_EQ(info.size(), 4u);
  EXPECT_EQ(info.begin().key(), "git_available");
  EXPECT_EQ(info["git_available"], true);
  EXPECT_EQ(info["git_commit"].get<std::string>().size(), 40u);
  EXPECT_EQ(info["git_commit_short"], info["git_commit"].get<std::string>().substr(0, 8));
  EXPECT_EQ(info["git_branch"], "ana");

  git({"checkout", "-q", "--detach"});
  EXPECT_EQ(git_info(dir.path().string(), Env::system())["git_branch"], "DETACHED");

  // hash-object of "x\n" is a well-known blob id.
  EXPECT_EQ(git_hash(dir.path().string(), "f.txt"), "587be6b4c3f93f93");
  EXPECT_EQ(git_hash(dir.path().string(), "missing.txt"), std::nullopt);
}

TEST_F(GitTest, MissingOrHangingGitIsReportedNotRaised) {
  // A PATH whose only "git" hangs, then one without any git, in what may be a repository.
  fs::create_directory(dir / ".git");
  TempDir bin;
  write_text(bin / "git", "#!/bin/sh\nexec /bin/sleep 30\n");
  fs::permissions(bin / "git", fs::perms::owner_all);
  const std::string saved = std::getenv("PATH");
  ::setenv("PATH", bin.path().c_str(), 1);
  // The 5-s limit passes on the test's clock, not in real seconds.
  const testing::HurryingClock clock;
  const auto start = std::chrono::steady_clock::now();
  const ordered_json hung = git_info(dir.path().string(), Env::system(), clock);
  EXPECT_EQ(git_hash(dir.path().string(), "f.txt", clock), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

  fs::remove(bin / "git");
  const ordered_json missing = git_info(dir.path().string(), Env::system());
  ::setenv("PATH", saved.c_str(), 1);

  ASSERT_EQ(hung.size(), 2u);
  EXPECT_EQ(hung["git_available"], false);
  EXPECT_EQ(hung["git_error"], "git zaman aşımına uğradı (5000 ms)");
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing["git_available"], false);
  EXPECT_TRUE(missing.contains("git_error"));
}

}  // namespace
}  // namespace vordak::motor
