#include "motor/prune.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "core/record_parser.h"
#include "motor/fingerprint.h"
#include "motor/history.h"
#include "motor/layout.h"

namespace vordak::motor {

namespace {

bool readable_record(const fs::path& file, Env& env) {
  try {
    TextMembers sources;
    return parse_record(env.read_file(file), kSourceHashes, sources).is_object();
  } catch (const std::exception&) {
    return false;
  }
}

// The step keys of the readable meta records in a season.
std::vector<std::string> recorded_steps(const fs::path& season_dir, Env& env) {
  std::vector<std::string> steps;
  const fs::path meta = meta_dir(season_dir);
  if (!env.is_directory(meta)) return steps;
  for (const DirEntry& entry : env.list_directory(meta)) {
    std::optional<std::string> kod = step_of_meta_file(entry.path.filename().string());
    if (kod && readable_record(entry.path, env)) steps.push_back(std::move(*kod));
  }
  std::sort(steps.begin(), steps.end());
  return steps;
}

// Walks `seasons` newest first and marks, per group, the first season holding each
// step's record; a season marked gets the step's key.
void mark_newest_records(const std::vector<fs::path>& seasons, const std::string& group,
                         const std::map<fs::path, std::vector<std::string>>& steps_of,
                         std::set<std::pair<std::string, std::string>>& seen,
                         std::map<fs::path, std::set<std::string>>& protected_steps) {
  for (const fs::path& dir : seasons) {
    const auto found = steps_of.find(dir);
    if (found == steps_of.end()) continue;
    for (const std::string& kod : found->second) {
      if (seen.insert({group, kod}).second) protected_steps[dir].insert(kod);
    }
  }
}

}  // namespace

PruneChoice choose_prune(const fs::path& work_dir, std::size_t keep, Env& env, Sink& warnings) {
  PruneChoice choice;
  if (!env.is_directory(seasons_dir(work_dir))) return choice;

  // Change detection searches every season of the mode's prefix, newest run first; the
  // records it would find there are protected.
  std::map<fs::path, std::vector<std::string>> steps_of;
  std::vector<SeasonDir> readable;
  for (SeasonDir& entry : season_entries(work_dir, env)) {
    try {
      if (!env.is_directory(entry.dir)) continue;
      steps_of[entry.dir] = recorded_steps(entry.dir, env);
    } catch (const std::runtime_error& failure) {
      warnings.line(unreadable_season_line(entry.dir, failure));
      continue;
    }
    readable.push_back(std::move(entry));
  }
  std::sort(readable.begin(), readable.end(), ran_later);
  std::vector<fs::path> by_order;
  std::vector<const SeasonDir*> candidates;
  for (const SeasonDir& entry : readable) {
    by_order.push_back(entry.dir);
    if (entry.type == fs::file_type::directory) candidates.push_back(&entry);  // a link to a season is left alone
  }

  std::set<std::pair<std::string, std::string>> seen;
  std::map<fs::path, std::set<std::string>> protected_steps;
  for (const Mode mode : {Mode::kProduction, Mode::kTest}) {
    const std::string_view prefix = season_prefix(mode);
    std::vector<fs::path> group;
    for (const fs::path& dir : by_order) {
      if (dir.filename().string().starts_with(prefix)) group.push_back(dir);
    }
    mark_newest_records(group, "prefix " + std::string(prefix), steps_of, seen, protected_steps);
  }
  // And per mode, newest run first.
  std::map<std::string, std::vector<fs::path>> by_mode;
  for (const SeasonDir* candidate : candidates) by_mode[candidate->name.mode].push_back(candidate->dir);
  for (const auto& [mode, dirs] : by_mode) mark_newest_records(dirs, "mode " + mode, steps_of, seen, protected_steps);

  std::map<std::string, std::size_t> kept_of_mode;
  for (const SeasonDir* candidate : candidates) {
    if (++kept_of_mode[candidate->name.mode] <= keep) {
      ++choice.remaining;
      continue;
    }
    const auto found = protected_steps.find(candidate->dir);
    if (found != protected_steps.end()) {
      choice.kept_for_meta.push_back({candidate->dir, {found->second.begin(), found->second.end()}});
      ++choice.remaining;
    } else {
      choice.remove.push_back(candidate->dir);
    }
  }
  return choice;
}

std::uintmax_t tree_size(const fs::path& dir, Env& env) {
  std::uintmax_t bytes = 0;
  std::vector<fs::path> pending = {dir};
  while (!pending.empty()) {
    const fs::path current = pending.back();
    pending.pop_back();
    for (const DirEntry& entry : env.list_directory(current)) {
      if (entry.type == fs::file_type::directory) {
        pending.push_back(entry.path);
      } else if (entry.type == fs::file_type::regular) {
        if (const std::optional<FileStatus> status = env.status(entry.path)) bytes += status->size;
      }
    }
  }
  return bytes;
}

}  // namespace vordak::motor
