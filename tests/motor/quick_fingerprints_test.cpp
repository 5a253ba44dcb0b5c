#include "motor/quick_fingerprints.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/record_parser.h"
#include "tests/motor/motor_test_support.h"

namespace vordak::motor {
namespace {

using vordak::testing::TempDir;
using vordak::testing::write_text;

// The real disk, counting the statuses taken of each path (from two threads).
class CountingEnv : public EnvWrapper {
 public:
  CountingEnv() : EnvWrapper(Env::system()) {}
  std::optional<FileStatus> status(const fs::path& path) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++taken[path.string()];
    }
    return EnvWrapper::status(path);
  }
  // Each through status(), to be counted.
  std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths) override {
    return Env::statuses(paths);
  }
  std::map<std::string, int> taken;

 private:
  std::mutex mutex_;
};

// A record's stored fingerprints: these paths with the texts given ("now": the file's own).
TextMembers stored(const std::vector<std::pair<std::string, std::string>>& members) {
  ordered_json object = ordered_json::object();
  for (const auto& [path, text] : members) {
    const ordered_json value = text == "now" ? ordered_json(*testing::quick_fingerprint(path, Env::system())) : ordered_json(text);
    append_new_member(object, path, value);
  }
  TextMembers read;
  parse_record(ordered_json{{"s", object}}.dump(), "s", read);
  return read;
}

TEST(QuickFingerprints, FindsTheFirstChangedFileAndPassesOverTheGoneAndTheUnreadable) {
  TempDir dir;
  const std::string a = (dir / "a.csv").string(), b = (dir / "b.csv").string();
  write_text(a, "1");
  write_text(b, "2");
  CountingEnv env;
  QuickFingerprints quick(env);

  const TextMembers same = stored({{a, "now"}, {b, "now"}});
  EXPECT_EQ(quick.first_changed(same), std::nullopt);
  const TextMembers second_changed = stored({{(dir / "gone.csv").string(), "0000"}, {a, "now"}, {b, "1111"}});
  EXPECT_EQ(quick.first_changed(second_changed), 2u);
  // A stored value that is no text matches nothing.
  TextMembers not_text;
  parse_record(R"({"s": {")" + a + R"(": 5}})", "s", not_text);
  EXPECT_EQ(quick.first_changed(not_text), 0u);
}

// A run takes each file's status once, however many decisions ask for it, in whatever
// order and beside whatever other files.
TEST(QuickFingerprints, TakesEachFilesStatusOnceInARun) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 300; ++i) {
    files.push_back({(dir / ("f" + std::to_string(i) + ".csv")).string(), "now"});
    write_text(files.back().first, std::to_string(i));
  }
  CountingEnv env;
  QuickFingerprints quick(env);
  const TextMembers all = stored(files);
  EXPECT_EQ(quick.first_changed(all), std::nullopt);
  EXPECT_EQ(env.taken.size(), 300u);

  // The same list again, then backwards with a new file and one changed.
  EXPECT_EQ(quick.first_changed(all), std::nullopt);
  std::vector<std::pair<std::string, std::string>> backwards(files.rbegin(), files.rend());
  write_text(dir / "new.csv", "n");
  backwards.insert(backwards.begin() + 100, {(dir / "new.csv").string(), "now"});
  backwards[200].second = "changed";
  const TextMembers mixed = stored(backwards);
  EXPECT_EQ(quick.first_changed(mixed), 200u);
  EXPECT_EQ(env.taken.size(), 301u);
  for (const auto& [path, count] : env.taken) EXPECT_EQ(count, 1) << path;
}

}  // namespace
}  // namespace vordak::motor
