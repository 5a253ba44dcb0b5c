// `vordak marts` killed at pseudo-random moments of its run. Afterwards the output
// directories hold the whole old set of outputs or the whole new one, never a mix, and
// the next run leaves no temporary file behind. VORDAK_MARTS_KILL_COUNT (default 8) and
// VORDAK_KILL_SEED (default 1) let it run longer outside CI.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>

#include "core/output_set.h"
#include "pipeline/duckdb_connection.h"
#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/kill_support.h"

namespace vordak::testing {
namespace {

// Removes what stands between the first `from` and the next `to`.
void erase_between(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return;
  const std::size_t end = text.find(to, at + from.size());
  if (end != std::string::npos) text.erase(at + from.size(), end - at - from.size());
}

// The outputs by name (hidden files aside), each page's data files with it. The pages
// are taken without their making time (a minute apart between runs) and without the name
// of their data folder's generation, which is made from that time; the files of the
// generation a page names are taken by their own names, so that a page whose files are
// missing or of another run shows as a mix.
std::map<std::string, std::string> output_set(const fs::path& outputs) {
  std::map<std::string, std::string> files;
  for (const char* dir : {"json", "html"}) {
    for (const auto& entry : fs::directory_iterator(outputs / dir)) {
      if (entry.path().filename().string().starts_with(".")) continue;  // a killed run's temporary file
      if (entry.is_directory()) continue;                                // a data folder, taken with its page
      std::string text = read_text(entry.path());
      erase_between(text, "Oluşturulma: <b>", "</b>");
      const std::string folder_member = "\"klasor\":\"";
      if (const std::size_t at = text.find(folder_member); at != std::string::npos) {
        const std::size_t start = at + folder_member.size();
        const fs::path generation = outputs / dir / text.substr(start, text.find('"', start) - start);
        for (const auto& file : fs::directory_iterator(generation)) {
          files[std::string(dir) + "/" + generation.parent_path().filename().string() + "/" + file.path().filename().string()] =
              read_text(file.path());
        }
        erase_between(text, "\"klasor\":\"" + generation.parent_path().filename().string() + "/", "\"");
      }
      files[std::string(dir) + "/" + entry.path().filename().string()] = std::move(text);
    }
  }
  return files;
}

bool holds_hidden_files(const fs::path& outputs) {
  for (const char* dir : {"json", "html"}) {
    for (const auto& entry : fs::directory_iterator(outputs / dir)) {
      if (entry.path().filename().string().starts_with(".")) return true;
    }
  }
  return false;
}

TEST(MartsKilledAtAnyMoment, LeaveTheOldSetOrTheNewOneAndTheNextRunTidiesUp) {
  const long count = env_setting("VORDAK_MARTS_KILL_COUNT", 8);
  std::mt19937 random(static_cast<unsigned>(env_setting("VORDAK_KILL_SEED", 1)));
  TempDir dir;
  const fs::path outputs = dir / "outputs";
  const std::string db = (dir / "data" / "vrd.duckdb").string();
  fs::create_directories(dir / "data");
  synth::generate_portfolio(db, {.firms = 10000, .periods = 12, .seed = 3});
  synth::generate_model_outputs(db, 3);
  const std::vector<std::string> marts = {"marts", "--db", db};
  const ChildResult first = run_vordak(marts);
  ASSERT_EQ(first.exit_status, 0) << first.out << first.err;
  const std::size_t full_lines = static_cast<std::size_t>(std::count(first.out.begin(), first.out.end(), '\n'));

  std::map<std::string, int> outcomes;
  for (long round = 1; round <= count; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const std::map<std::string, std::string> old_set = output_set(outputs);
    {
      pipeline::Connection con(db);
      con.execute("UPDATE fact_periodic SET kombine_risk = kombine_risk + " + std::to_string(round * 1000) +
                  " WHERE entity_id IN (SELECT entity_id FROM dim_entity ORDER BY entity_id LIMIT 50)");
    }
    // Every other kill falls after the last line, while the pages and the scoreboard are
    // finished, synced and renamed.
    const std::size_t lines =
        round % 2 == 1 ? full_lines : std::uniform_int_distribution<std::size_t>(0, full_lines)(random);
    run_and_kill(marts, lines, std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 1500)(random)));
    // What the next run does first: complete the renames a kill cut short.
    finish_interrupted_publish(Env::system(), outputs / "json" / ".vrd_outputs.publish",
                               {outputs / "json", outputs / "html"});
    const std::map<std::string, std::string> after_kill = output_set(outputs);

    const ChildResult next = run_vordak(marts);
    ASSERT_EQ(next.exit_status, 0) << next.out << next.err;
    EXPECT_FALSE(holds_hidden_files(outputs));
    const std::map<std::string, std::string> new_set = output_set(outputs);
    ASSERT_NE(new_set, old_set);
    if (after_kill == old_set)
      ++outcomes["old set"];
    else if (after_kill == new_set)
      ++outcomes["new set"];
    else
      ADD_FAILURE() << "a mix of the old and the new outputs after killing at line " << lines;
  }
  for (const auto& [outcome, times] : outcomes) std::printf("  %s after %d kills\n", outcome.c_str(), times);
}

}  // namespace
}  // namespace vordak::testing
