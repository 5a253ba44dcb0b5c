// Step meta records: writing them, finding the previous one, and the must-run decision.

#include <algorithm>

#include "core/clock.h"
#include "core/files.h"
#include "core/number_text.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"

namespace vordak::motor {

namespace {

std::string meta_file_name(const std::string& kod) { return "adim_" + kod + ".json"; }

ordered_json fingerprint_json(const Fingerprint& fingerprint) {
  return fingerprint ? ordered_json(*fingerprint) : ordered_json(nullptr);
}

// A member that is present, not null and not the empty text.
bool non_empty(const ordered_json& value) {
  return !value.is_null() && !(value.is_string() && value.get_ref<const std::string&>().empty());
}

const ordered_json& member(const ordered_json& record, const char* name) {
  static const ordered_json kNull;
  const auto found = record.find(name);
  return found == record.end() ? kNull : *found;
}

bool git_available(const ordered_json& info) {
  const auto found = info.find("git_available");
  return found != info.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace

void Motor::meta_yaz(const std::string& kod, const fs::path& nb_path, double sure,
                     const std::optional<ordered_json>& source_hashes,
                     const std::optional<ordered_json>& ekstra) const {
  ordered_json record = ordered_json::object();
  record["notebook"] = nb_path.filename().string();
  record["nb_hash"] = fingerprint_json(_file_hash(nb_path.string()));
  record["git_nb_hash"] =
      git_available(git_info) ? fingerprint_json(_git_hash(work_dir.string(), nb_path.string())) : ordered_json(nullptr);
  record["pkg_version"] = kVersion;
  record["season"] = season_adi;
  record["pipeline_ts"] = ts;
  record["mode"] = mode;
  record["sure_saniye"] = round_half_even(sure, 1);
  record["tarih"] = iso_text(Env::system().now());
  if (source_hashes && !source_hashes->empty()) record["source_hashes"] = *source_hashes;
  if (ekstra && !ekstra->empty()) {
    for (const auto& [key, value] : ekstra->items()) record[key] = value;
  }
  write_file_atomic(meta_dir / meta_file_name(kod), to_json_text(record, JsonWriter::Layout::kIndented));
}

std::optional<ordered_json> Motor::_find_prev_meta(const std::string& kod) const {
  const fs::path seasons = work_dir / "seasons";
  if (!fs::exists(seasons)) return std::nullopt;
  const std::string prefix = mode == "test" ? "T_" : "S_";

  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(seasons)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() > b.filename().string(); });

  for (const fs::path& entry : entries) {
    if (entry == season_dir) continue;
    if (!entry.filename().string().starts_with(prefix)) continue;
    const fs::path candidate = entry / "meta" / meta_file_name(kod);
    if (!fs::exists(candidate)) continue;
    try {
      ordered_json record = parse_json(read_file(candidate));
      if (record.is_object()) return record;
    } catch (const std::exception&) {
      // An unreadable or malformed record: an older season may still hold a good one.
    }
  }
  return std::nullopt;
}

std::pair<bool, std::string> Motor::meta_kontrol(const std::string& kod) const {
  const std::optional<ordered_json> prev = _find_prev_meta(kod);
  if (!prev) return {true, "ilk çalıştırma"};

  const ordered_json& prev_mode = member(*prev, "mode");
  if (!(prev_mode.is_string() && prev_mode.get_ref<const std::string&>() == mode)) {
    return {true, "mode değişti (" + python_text(prev_mode) + "→" + mode + ")"};
  }

  const ordered_json& prev_hash = member(*prev, "nb_hash");
  if (const std::optional<fs::path> nb_path = _nb_path(kod)) {
    const Fingerprint current_hash = _file_hash(nb_path->string());
    if (current_hash && !current_hash->empty() && non_empty(prev_hash) && ordered_json(*current_hash) != prev_hash) {
      return {true, "notebook değişti (" + utf8_prefix(python_text(prev_hash), 8) + "→" + current_hash->substr(0, 8) + ")"};
    }
    if (git_available(git_info)) {
      const Fingerprint git_h = _git_hash(work_dir.string(), nb_path->string());
      const ordered_json& prev_git = member(*prev, "git_nb_hash");
      if (git_h && !git_h->empty() && non_empty(prev_git) && ordered_json(*git_h) != prev_git) {
        return {true, "git hash değişti"};
      }
    }
  }

  const ordered_json& prev_sources = member(*prev, "source_hashes");
  if (prev_sources.is_object()) {
    for (const auto& [source_path, stored] : prev_sources.items()) {
      if (!fs::exists(source_path)) continue;
      const Fingerprint current = _fast_file_hash(source_path);
      if (current && !current->empty() && ordered_json(*current) != stored) {
        return {true, "kaynak değişti (" + fs::path(source_path).filename().string() + ")"};
      }
    }
  }

  // A stored "nb_hash" that is null or not a text is shown as "?", like a missing one.
  const std::string shown_hash = prev_hash.is_string() ? utf8_prefix(prev_hash.get<std::string>(), 8) : "?";
  return {false, "uyumlu (" + shown_hash + ")"};
}

}  // namespace vordak::motor
