#include "core/output_set.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "core/io_error.h"
#include "core/json_writer.h"

namespace vordak {

namespace {

// The journal names each file relative to the journal's own directory, so that a set
// whose directories were moved as a whole can still be completed.
fs::path journal_entry(const fs::path& path, const fs::path& journal) {
  return path.lexically_relative(journal.parent_path());
}

// `dir` in the form lexically_normal() gives a file's parent: no trailing separator.
fs::path normal_dir(const fs::path& dir) { return (dir / "x").lexically_normal().parent_path(); }

// A journal entry as the paths to rename, when it is one publish() writes: a target
// directly in one of `output_dirs` and the temporary file made for it beside it.
std::optional<std::pair<fs::path, fs::path>> confined_rename(const fs::path& base, const std::string& temporary_entry,
                                                             const std::string& target_entry,
                                                             const std::vector<fs::path>& output_dirs) {
  const fs::path temporary = (base / temporary_entry).lexically_normal();
  const fs::path target = (base / target_entry).lexically_normal();
  const fs::path dir = target.parent_path();
  const bool in_output_dir = std::any_of(output_dirs.begin(), output_dirs.end(),
                                         [&](const fs::path& output) { return normal_dir(output) == dir; });
  if (!in_output_dir || temporary.parent_path() != dir || target.filename().empty() ||
      temporary_file_target(temporary.filename().string()) != target.filename().string()) {
    return std::nullopt;
  }
  return std::pair(temporary, target);
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

fs::path publish_journal(const fs::path& output_dir, const std::string& file_suffix) {
  return output_dir / (".vrd_outputs" + file_suffix + ".publish");
}

void finish_interrupted_publish(Env& env, const fs::path& journal, const std::vector<fs::path>& output_dirs) {
  if (!env.is_regular_file(journal)) return;
  ordered_json renames;
  try {
    renames = parse_json(env.read_file(journal));
  } catch (const std::exception&) {
    // The journal is written whole or not at all; a file that does not parse is not ours.
    throw FileRefused("unreadable publish journal " + journal.string() + ": remove it by hand", journal);
  }
  // Every entry is checked before the first rename: a journal that is not ours moves nothing.
  const fs::path base = journal.parent_path();
  const auto refuse = [&](const ordered_json& entry) {
    return FileRefused("refused publish journal " + journal.string() + ": " + entry.dump() +
                           " is not a rename inside the output directories; remove it by hand",
                       journal);
  };
  if (!renames.is_array()) throw refuse(renames);
  std::vector<std::pair<fs::path, fs::path>> moves;
  for (const ordered_json& rename : renames) {
    std::optional<std::pair<fs::path, fs::path>> move;
    if (rename.is_array() && rename.size() == 2 && rename[0].is_string() && rename[1].is_string()) {
      move = confined_rename(base, rename[0].get<std::string>(), rename[1].get<std::string>(), output_dirs);
    }
    if (!move) throw refuse(rename);
    moves.push_back(*move);
  }
  std::set<fs::path> dirs = {base};
  for (const auto& [temporary, target] : moves) {
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
