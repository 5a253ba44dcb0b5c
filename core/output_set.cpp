#include "core/output_set.h"

#include <set>
#include <stdexcept>
#include <string>

#include "core/json_writer.h"

namespace vordak {

namespace {

// The journal names each file relative to the journal's own directory, so that a set
// whose directories were moved as a whole can still be completed.
fs::path journal_entry(const fs::path& path, const fs::path& journal) {
  return path.lexically_relative(journal.parent_path());
}

void sync_directories(Env& env, const std::set<fs::path>& dirs) {
  for (const fs::path& dir : dirs) env.sync_directory(dir);
}

}  // namespace

OutputSet::OutputSet(Env& env, fs::path journal) : env_(env), journal_(std::move(journal)) {}

OutputSet::~OutputSet() {
  if (journalled_) return;
  for (Member& member : members_) {
    const fs::path temporary = member.file->path();
    member.file.reset();
    try {
      env_.remove_file(temporary);
    } catch (const std::exception&) {
      // Left for the next run's clean-up: a destructor must not throw.
    }
  }
}

WritableFile& OutputSet::add(const fs::path& target, FileAccess access) {
  members_.push_back({target, env_.new_temporary_file(target, access)});
  return *members_.back().file;
}

void OutputSet::publish() {
  for (Member& member : members_) member.file->sync_and_close();

  ordered_json renames = ordered_json::array();
  std::set<fs::path> dirs = {journal_.parent_path()};
  for (const Member& member : members_) {
    renames.push_back(
        {journal_entry(member.file->path(), journal_).string(), journal_entry(member.target, journal_).string()});
    dirs.insert(member.target.parent_path());
  }
  env_.write_file_atomic(journal_, to_json_text(renames, JsonWriter::Layout::kCompact));
  env_.sync_directory(journal_.parent_path());
  journalled_ = true;

  for (const Member& member : members_) env_.rename_file(member.file->path(), member.target);
  sync_directories(env_, dirs);
  env_.remove_file(journal_);
  members_.clear();
  journalled_ = false;
}

void finish_interrupted_publish(Env& env, const fs::path& journal) {
  if (!env.is_regular_file(journal)) return;
  ordered_json renames;
  try {
    renames = parse_json(env.read_file(journal));
  } catch (const std::exception&) {
    // The journal is written whole or not at all; a file that does not parse is not ours.
    throw std::runtime_error("unreadable publish journal " + journal.string() + ": remove it by hand");
  }
  std::set<fs::path> dirs = {journal.parent_path()};
  const fs::path base = journal.parent_path();
  for (const ordered_json& rename : renames) {
    if (!rename.is_array() || rename.size() != 2 || !rename[0].is_string() || !rename[1].is_string()) continue;
    const fs::path temporary = base / rename[0].get<std::string>();
    const fs::path target = base / rename[1].get<std::string>();
    dirs.insert(target.parent_path());
    if (env.exists(temporary)) env.rename_file(temporary, target);
  }
  sync_directories(env, dirs);
  env.remove_file(journal);
}

std::size_t remove_abandoned_outputs(Env& env, const fs::path& dir,
                                     const std::function<bool(std::string_view)>& is_output) {
  if (!env.is_directory(dir)) return 0;
  std::size_t removed = 0;
  for (const DirEntry& entry : env.list_directory(dir)) {
    if (entry.type != fs::file_type::regular) continue;
    const std::string target = temporary_file_target(entry.path.filename().string());
    if (!target.empty() && is_output(target) && env.remove_abandoned_file(entry.path)) ++removed;
  }
  return removed;
}

}  // namespace vordak
