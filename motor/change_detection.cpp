#include "motor/change_detection.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/output_set.h"
#include "core/text.h"
#include "motor/fingerprint.h"
#include "motor/history.h"
#include "motor/layout.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

// A member that is present, not null and not the empty text.
bool non_empty(const ordered_json& value) {
  return !value.is_null() && !(value.is_string() && value.get_ref<const std::string&>().empty());
}

const ordered_json& member(const ordered_json& record, const char* name) {
  static const ordered_json kNull;
  const auto found = record.find(name);
  return found == record.end() ? kNull : *found;
}

}  // namespace

void ChangeDetector::warn_unreadable(const fs::path& dir, const std::exception& failure) {
  if (unreadable_.insert(dir.string()).second) {
    out_.line("  [WARN] Sezon dizini okunamadı, atlandı: " + dir.string() + " (" + failure.what() + ")");
  }
}

namespace {

// The names of the earlier seasons of the season's mode prefix, newest run first. A
// directory whose name is no season's (a copy kept as "S_backup") is none. Throws
// std::runtime_error when the seasons directory cannot be read.
std::vector<std::string> list_earlier_seasons(const Season& season, Env& env) {
  const std::string_view prefix = season_prefix(mode_of(season.mode()));
  std::vector<SeasonDir> earlier = season_entries(season.work_dir(), env);
  std::erase_if(earlier, [&](const SeasonDir& entry) {
    return !entry.dir.filename().string().starts_with(prefix) || entry.dir == season.season_dir();
  });
  // In the order the runs were made, not by their names: a season named by a clock set
  // back, or a copy kept under a season's name, is no newer run.
  std::sort(earlier.begin(), earlier.end(), ran_later);
  std::vector<std::string> names;
  for (const SeasonDir& entry : earlier) names.push_back(entry.dir.filename().string());
  return names;
}

}  // namespace

void ChangeDetector::read_ahead(std::vector<std::string> kods) {
  if (reader_) return;
  reader_.emplace([this, kods = std::move(kods)] {
    try {
      const std::vector<std::string> names = list_earlier_seasons(season_, env_);
      for (const std::string& kod : kods) {
        for (const std::string& name : names) {
          const fs::path candidate = meta_dir(seasons_dir(season_.work_dir()) / name) / meta_file_name(kod);
          if (env_.exists(candidate)) {
            records_.read(candidate);
            break;
          }
        }
      }
    } catch (const std::exception&) {
      // What the helper cannot read, the decisions read (and report) themselves.
    }
  });
}

const std::vector<std::string>& ChangeDetector::earlier_seasons() {
  if (seasons_) return *seasons_;
  try {
    seasons_ = list_earlier_seasons(season_, env_);
  } catch (const std::runtime_error& failure) {
    seasons_.emplace();
    warn_unreadable(seasons_dir(season_.work_dir()), failure);
  }
  return *seasons_;
}

const std::optional<ChangeDetector::Found>& ChangeDetector::latest(const std::string& kod) {
  if (const auto cached = latest_.find(kod); cached != latest_.end()) return cached->second;
  std::optional<Found>& found = latest_[kod];
  for (const std::string& name : earlier_seasons()) {
    const fs::path season_dir = seasons_dir(season_.work_dir()) / name;
    if (unreadable_.contains(season_dir.string())) continue;
    const fs::path candidate = meta_dir(season_dir) / meta_file_name(kod);
    try {
      if (!env_.exists(candidate)) continue;
    } catch (const std::runtime_error& failure) {
      warn_unreadable(season_dir, failure);
      continue;
    }
    // An unreadable or malformed record: an older season may still hold a good one.
    if (const RecordReader::Record* record = records_.read(candidate)) {
      found = Found{name, record};
      break;
    }
  }
  return found;
}

std::optional<ordered_json> ChangeDetector::find_prev_meta(const std::string& kod) {
  const std::optional<Found>& found = latest(kod);
  if (!found) return std::nullopt;
  ordered_json record = found->record->document;
  if (!found->record->sources.empty()) record[kSourceHashes] = found->record->sources.to_json();
  return record;
}

Decision ChangeDetector::meta_kontrol(const std::string& kod) {
  const std::optional<Found>& found = latest(kod);
  if (!found) return {true, "ilk çalıştırma"};
  const ordered_json& prev = found->record->document;

  const ordered_json& prev_mode = member(prev, "mode");
  if (!(prev_mode.is_string() && prev_mode.get_ref<const std::string&>() == season_.mode())) {
    return {true, "mode değişti (" + python_text(prev_mode) + "→" + season_.mode() + ")"};
  }

  const ordered_json& prev_hash = member(prev, "nb_hash");
  if (const std::optional<fs::path> nb_path = season_.nb_path(kod)) {
    const Fingerprint current_hash = file_hash(nb_path->string(), env_);
    // A notebook that cannot be read is never up to date: it runs, and fails naming the file.
    if (!current_hash || current_hash->empty()) return {true, "notebook okunamadı (" + nb_path->filename().string() + ")"};
    if (non_empty(prev_hash) && ordered_json(*current_hash) != prev_hash) {
      return {true, "notebook değişti (" + utf8_prefix(python_text(prev_hash), 8) + "→" + current_hash->substr(0, 8) + ")"};
    }
    if (season_.git_available()) {
      const Fingerprint git_h = git_hash(season_.work_dir().string(), nb_path->string());
      const ordered_json& prev_git = member(prev, "git_nb_hash");
      if (git_h && !git_h->empty() && non_empty(prev_git) && ordered_json(*git_h) != prev_git) {
        return {true, "git hash değişti"};
      }
    }
  }

  // A source that is gone, or whose status cannot be read, is passed over.
  const TextMembers& prev_sources = found->record->sources;
  if (const std::optional<std::size_t> changed = quick_.first_changed(prev_sources)) {
    return {true, "kaynak değişti (" + fs::path(prev_sources[*changed].name).filename().string() + ")"};
  }

  // A stored "nb_hash" that is null or not a text is shown as "?", like a missing one.
  const std::string shown_hash = prev_hash.is_string() ? utf8_prefix(prev_hash.get<std::string>(), 8) : "?";
  return {false, "uyumlu (" + shown_hash + ")"};
}

std::vector<std::string> RunProgress::changed_since(const std::string& kod, const std::vector<std::string>& steps) const {
  const auto decided = last_decided_.find(kod);
  const std::size_t from = decided == last_decided_.end() ? 0 : decided->second;
  std::vector<std::string> found;
  for (const std::string& step : steps) {
    if (std::find(changes_.begin() + static_cast<std::ptrdiff_t>(from), changes_.end(), step) != changes_.end()) {
      found.push_back(step);
    }
  }
  return found;
}

std::vector<std::string> RunProgress::blocked_among(const std::vector<std::string>& steps) const {
  std::vector<std::string> found;
  for (const std::string& step : steps) {
    if (blocked_.contains(step)) found.push_back(step);
  }
  return found;
}

std::optional<std::string> ChangeDetector::last_change_season(const std::string& kod) {
  const std::optional<Found>& found = latest(kod);
  if (!found) return std::nullopt;
  const ordered_json& recorded = member(found->record->document, kSonDegisiklik);
  return recorded.is_string() ? recorded.get<std::string>() : found->season;
}

bool ChangeDetector::newer_season(const std::string& candidate, const std::string& season) {
  if (season_rank_.empty()) {
    const std::vector<std::string>& names = earlier_seasons();
    for (std::size_t i = 0; i < names.size(); ++i) season_rank_.emplace(names[i], i);
  }
  const auto theirs = season_rank_.find(candidate);
  const auto own = season_rank_.find(season);
  return theirs != season_rank_.end() && own != season_rank_.end() && theirs->second < own->second;
}

Decision ChangeDetector::ingest_kontrol(const std::string& kod, const std::vector<std::string>* source_dirs) {
  // Whenever it runs, the notebook compares its extracts with its last load itself.
  const Decision runs{true, "ingest — notebook kontrol eder"};
  const Decision recorded = meta_kontrol(kod);
  if (recorded.calistir || !env_.exists(season_.db_path())) return runs;
  // Every file as the record found it, and no file more or less: a new month's extract
  // is the change an ingest step exists for.
  const TextMembers& stored = latest(kod)->record->sources;
  ordered_json current;
  try {
    current = source_fingerprints(source_dirs ? *source_dirs : std::vector<std::string>{}, env_);
  } catch (const std::exception&) {
    return runs;  // the notebook reports what cannot be read
  }
  if (current.size() != stored.size()) return runs;
  std::unordered_map<std::string_view, std::string_view> now;
  for (const auto& [path, print] : current.items()) now.emplace(path, print.get_ref<const std::string&>());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const TextMembers::Member entry = stored[i];
    const auto found = now.find(entry.name);
    if (found == now.end() || !entry.text || *entry.text != found->second) return runs;
  }
  return recorded;
}

Decision ChangeDetector::decide(const std::string& kod, const RunProgress& progress, const StepContext& context) {
  const StepDefinition* definition = find_step(kod);
  const std::vector<std::string> inputs = definition ? inputs_of(*definition) : std::vector<std::string>{};
  if (const std::vector<std::string> blocked = progress.blocked_among(inputs); !blocked.empty()) {
    return {false, "engellendi (" + join(blocked, ",") + ")", true};
  }
  const bool force = season_.force_all() || season_.force_adimlar().contains(kod);
  Decision decision;
  if (context.prerequisite_of && !has_run_before(kod)) {
    decision = {true, "önkoşul (" + *context.prerequisite_of + ") — hiç çalışmamış"};
  } else {
    decision = is_ingest_step(kod) ? ingest_kontrol(kod, context.source_dirs) : meta_kontrol(kod);
  }
  if (force && !decision.calistir) decision = {true, "ZORLA (" + decision.sebep + ")"};
  if (!decision.calistir && definition && definition->publishes) {
    const fs::path journal = publish_journal(season_.output_dir(), season_.file_suffix());
    if (env_.status(journal)) decision = {true, "yayın yarım kalmış (" + journal.filename().string() + ")"};
  }
  if (!decision.calistir) {
    const std::vector<std::string> tetikleyenler = progress.changed_since(kod, inputs);
    if (!tetikleyenler.empty()) decision = {true, "cascade (" + join(tetikleyenler, ",") + ")"};
  }
  if (!decision.calistir) {
    // An input whose outputs changed after this step's own last record: a run ended
    // between the two (killed, or one step run alone), so this step never saw them.
    std::vector<std::string> newer;
    if (const std::optional<Found>& own = latest(kod)) {
      for (const std::string& step : inputs) {
        const std::optional<std::string> theirs = last_change_season(step);
        if (theirs && newer_season(*theirs, own->season)) newer.push_back(step);
      }
    }
    if (!newer.empty()) decision = {true, "cascade (" + join(newer, ",") + ") — önceki sezonda"};
  }
  return decision;
}

Decision ChangeDetector::decide_offered(const OfferedStep& step, RunProgress& progress) {
  const std::vector<std::string> no_dirs;
  const Decision decision = decide(step.kod, progress, {step.source_dirs ? &*step.source_dirs : &no_dirs, step.prerequisite_of});
  progress.decided(step.kod);
  if (decision.engellendi) progress.block(step.kod);
  return decision;
}

ordered_json source_fingerprints(const std::vector<std::string>& dirs, Env& env) {
  // The regular files directly in the directories, each once, in path order per directory.
  std::vector<std::string> files;
  std::unordered_set<std::string> seen;
  for (const std::string& dir : dirs) {
    if (!env.is_directory(dir)) continue;
    std::vector<DirEntry> entries = env.list_directory(dir);
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.path < b.path; });
    for (const DirEntry& entry : entries) {
      const bool regular = entry.type == fs::file_type::regular ||
                           (entry.type != fs::file_type::directory && env.is_regular_file(entry.path));
      if (regular && seen.insert(entry.path.string()).second) files.push_back(entry.path.string());
    }
  }
  const std::vector<std::string_view> paths(files.begin(), files.end());
  std::vector<QuickFingerprint> hashes(files.size());
  fast_fingerprints(paths, hashes, env);
  ordered_json fingerprints = ordered_json::object();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (const std::optional<std::string_view> text = hashes[i].text()) append_new_member(fingerprints, files[i], std::string(*text));
  }
  return fingerprints;
}

}  // namespace vordak::motor
