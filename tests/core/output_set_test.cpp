#include "core/output_set.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/io_error.h"
#include "tests/test_support.h"

namespace vordak {
namespace {

using testing::read_text;
using testing::TempDir;
using testing::write_text;

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The real disk, whose renames fail once `renames_left` is used up, as a kill between
// two renames would leave them.
class RenameStopsEnv : public EnvWrapper {
 public:
  explicit RenameStopsEnv(int renames_left) : EnvWrapper(Env::system()), renames_left_(renames_left) {}
  void rename_file(const fs::path& from, const fs::path& to) override {
    if (renames_left_-- <= 0) throw std::runtime_error("killed");
    EnvWrapper::rename_file(from, to);
  }

 private:
  int renames_left_;
};

TEST(OutputSet, PublishesEveryMemberTogetherOrNone) {
  TempDir dir;
  const fs::path journal = dir / ".set.publish";
  write_text(dir / "a.json", "old a");
  write_text(dir / "html" / "b.html", "old b");
  {
    OutputSet set(Env::system(), journal);
    set.add(dir / "a.json").append("new a");
    set.add(dir / "html" / "b.html").append("new b");
    // Nothing is visible before publish(), and a set given up removes its files.
  }
  EXPECT_EQ(read_text(dir / "a.json"), "old a");
  EXPECT_EQ(read_text(dir / "html" / "b.html"), "old b");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.json", "html"}));
  EXPECT_EQ(names_in(dir / "html"), (std::vector<std::string>{"b.html"}));

  OutputSet set(Env::system(), journal);
  WritableFile& a = set.add(dir / "a.json");
  a.append("new ");
  a.start_writeback();
  a.append(std::string(3 << 20, 'a'));  // beyond the buffer
  set.add(dir / "html" / "b.html").append("new b");
  set.publish();
  EXPECT_EQ(read_text(dir / "a.json"), "new " + std::string(3 << 20, 'a'));
  EXPECT_EQ(read_text(dir / "html" / "b.html"), "new b");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.json", "html"}));
  EXPECT_EQ(names_in(dir / "html"), (std::vector<std::string>{"b.html"}));
  EXPECT_EQ(fs::status(dir / "a.json").permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST(OutputSet, AnInterruptedPublishIsCompletedByTheNextRun) {
  for (int renames_done = 0; renames_done <= 2; ++renames_done) {
    SCOPED_TRACE(renames_done);
    TempDir dir;
    const fs::path journal = dir / ".set.publish";
    for (const char* name : {"a.json", "b.csv", "c.html"}) write_text(dir / name, "old");
    RenameStopsEnv env(renames_done);
    {
      OutputSet set(env, journal);
      for (const char* name : {"a.json", "b.csv", "c.html"}) set.add(dir / name).append("new");
      EXPECT_THROW(set.publish(), std::runtime_error);
    }
    // The set's files now belong to the journal: they outlive the set.
    EXPECT_TRUE(fs::exists(journal));
    finish_interrupted_publish(Env::system(), journal, {dir.path()});
    for (const char* name : {"a.json", "b.csv", "c.html"}) EXPECT_EQ(read_text(dir / name), "new") << name;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.json", "b.csv", "c.html"}));
  }
  TempDir dir;
  finish_interrupted_publish(Env::system(), dir / ".none.publish", {dir.path()});  // no journal: nothing to do
  write_text(dir / ".bad.publish", "{not json");
  EXPECT_THROW(finish_interrupted_publish(Env::system(), dir / ".bad.publish", {dir.path()}), std::runtime_error);
}

TEST(OutputSet, AJournalThatRenamesAnythingElseMovesNothingAndIsNamed) {
  TempDir dir;
  const fs::path json = dir / "out" / "json";
  const fs::path journal = json / ".set.publish";
  const std::vector<std::string> journals = {
      R"([["planted", "../../../victim"]])",
      R"([[".victim.Ab12Cd", "../../victim"]])",
      R"([["/tmp/planted", "/tmp/victim"]])",
      R"([[".a.json.Ab12Cd", "b.json"]])",               // not the temporary file of its target
      R"([["../html/.a.html.Ab12Cd", "a.html"]])",       // not beside its target
      R"([[".a.json.Ab12Cd", "a.json"], ["x", 1]])",     // one good entry, one that is not
      R"({"a.json": ".a.json.Ab12Cd"})",
  };
  for (const std::string& planted : journals) {
    for (const char* name : {"victim", "out/json/a.json", "out/json/.a.json.Ab12Cd", "out/html/.a.html.Ab12Cd"}) {
      write_text(dir / name, name);
    }
    write_text(journal, planted);
    try {
      finish_interrupted_publish(Env::system(), journal, {json, dir / "out" / "html"});
      ADD_FAILURE() << planted;
    } catch (const FileRefused& refused) {
      EXPECT_EQ(refused.path(), journal);
      EXPECT_TRUE(std::string(refused.what()).starts_with("refused publish journal " + journal.string() + ": "))
          << refused.what();
    }
    EXPECT_EQ(read_text(dir / "victim"), "victim") << planted;
    EXPECT_EQ(read_text(json / "a.json"), "out/json/a.json") << planted;
    EXPECT_TRUE(fs::exists(journal)) << planted;
  }
  // Entries into either output directory, as publish() writes them, are done.
  write_text(journal, R"([[".a.json.Ab12Cd", "a.json"], ["../html/.a.html.Ab12Cd", "../html/a.html"]])");
  finish_interrupted_publish(Env::system(), journal, {json, dir / "out" / "html"});
  EXPECT_EQ(read_text(json / "a.json"), "out/json/.a.json.Ab12Cd");
  EXPECT_EQ(read_text(dir / "out" / "html" / "a.html"), "out/html/.a.html.Ab12Cd");
  EXPECT_FALSE(fs::exists(journal));
}

TEST(OutputSet, CleanUpRemovesOnlyAbandonedTemporaryFilesOfOutputs) {
  TempDir dir;
  const auto is_output = [](std::string_view name) { return name.ends_with(".json"); };
  write_text(dir / ".a.json.Ab12Cd", "left by a killed run");
  write_text(dir / ".other.txt.Ab12Cd", "not an output");
  write_text(dir / ".a.json.Ab12", "not a temporary name");
  write_text(dir / "b.json", "an output");
  const std::unique_ptr<WritableFile> live = open_temporary_file(dir / "c.json");  // a writer still at work
  EXPECT_EQ(remove_abandoned_outputs(Env::system(), dir.path(), is_output), 1u);
  std::vector<std::string> expected = {".a.json.Ab12", ".other.txt.Ab12Cd", live->path().filename().string(), "b.json"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names_in(dir.path()), expected);
  EXPECT_EQ(remove_abandoned_outputs(Env::system(), dir / "missing", is_output), 0u);
}

TEST(TemporaryFileTarget, ReadsTheTargetOutOfATemporaryName) {
  const std::pair<const char*, const char*> cases[] = {
      {".a.json.Xy12Ab", "a.json"},
      {".vrd_dashboard.html.000000", "vrd_dashboard.html"},
      {"a.json.Xy12Ab", ""},
      {".a.json.Xy12A", ""},
      {".a.json.Xy-2Ab", ""},
      {".Xy12Ab", ""},
      {"..Xy12Ab", ""},
      {".a.Xy12Ab", "a"},
  };
  for (const auto& [name, target] : cases) EXPECT_EQ(temporary_file_target(name), target) << name;
}

}  // namespace
}  // namespace vordak
