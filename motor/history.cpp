#include "motor/history.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "core/clock.h"

namespace vordak::motor {

namespace {

std::optional<StepStatus> status_from_text(const std::string& text) {
  for (const StepStatus status : {StepStatus::kOk, StepStatus::kSkipped, StepStatus::kFailed, StepStatus::kNotebookMissing}) {
    if (text == manifest_status_text(status)) return status;
  }
  return std::nullopt;
}

std::string text_member(const ordered_json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int int_member(const ordered_json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_number_integer() ? found->get<int>() : 0;
}

std::vector<std::string> data_notes(const ordered_json& entry) {
  std::vector<std::string> notes;
  if (const std::string check = text_member(entry, "veri_kontrolu"); !check.empty()) notes.push_back("engel: " + check);
  if (const auto warnings = entry.find("uyarilar"); warnings != entry.end() && warnings->is_array()) {
    for (const ordered_json& warning : *warnings) {
      if (warning.is_string()) notes.push_back("uyarı: " + warning.get<std::string>());
    }
  }
  if (const auto accepted = entry.find("kabul"); accepted != entry.end() && accepted->is_array()) {
    for (const ordered_json& acceptance : *accepted) {
      if (!acceptance.is_object()) continue;
      notes.push_back("kabul: " + text_member(acceptance, "kontrol") + " — " + text_member(acceptance, "kullanici") + "@" +
                      text_member(acceptance, "makine") + ", " + text_member(acceptance, "zaman"));
    }
  }
  return notes;
}

void read_manifest(const ordered_json& manifest, SeasonRecord& record) {
  record.has_manifest = true;
  if (const auto sonuc = manifest.find("sonuc"); sonuc != manifest.end() && sonuc->is_object()) {
    if (const auto minutes = sonuc->find("toplam_sure_dk"); minutes != sonuc->end() && minutes->is_number()) {
      record.sure_dk = minutes->get<double>();
    }
    record.ok = int_member(*sonuc, "ok");
    record.atlandi = int_member(*sonuc, "atlandi");
    record.hata = int_member(*sonuc, "hata");
  }
  const auto adimlar = manifest.find("adimlar");
  if (adimlar == manifest.end() || !adimlar->is_object()) return;
  for (const auto& [kod, entry] : adimlar->items()) {
    if (!entry.is_object()) continue;
    const std::optional<StepStatus> durum = status_from_text(text_member(entry, "durum"));
    if (!durum) continue;
    const std::string sebep = *durum == StepStatus::kFailed ? text_member(entry, "hata") : text_member(entry, "sebep");
    record.adimlar.push_back({kod, *durum, text_member(entry, "sure"), sebep, data_notes(entry)});
    if (*durum == StepStatus::kNotebookMissing) ++record.nb_yok;
  }
}

// Without a manifest, each meta record is a step that completed.
void read_meta_records(const std::vector<DirEntry>& entries, RecordReader& records, SeasonRecord& record) {
  std::vector<std::pair<fs::path, std::string>> files;  // each record with its step
  for (const DirEntry& entry : entries) {
    if (std::optional<std::string> kod = step_of_meta_file(entry.path.filename().string())) {
      files.emplace_back(entry.path, std::move(*kod));
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& [file, kod] : files) {
    const RecordReader::Record* read = records.read(file);
    if (read == nullptr) continue;
    const ordered_json& meta = read->document;
    std::string sure;
    if (const auto seconds = meta.find("sure_saniye"); seconds != meta.end() && seconds->is_number()) {
      sure = sure_text(seconds->get<double>());
    }
    record.adimlar.push_back({kod, StepStatus::kOk, sure, "", {}});
    ++record.ok;
  }
}

}  // namespace

SeasonRecord read_season(const SeasonDir& season, Env& env, RecordReader& records) {
  const fs::path& dir = season.dir;
  const SeasonName& name = season.name;
  SeasonRecord record;
  record.season = dir.filename().string();
  record.dir = dir;
  record.mode = name.mode;
  const std::string& ts = name.ts;
  record.baslangic = ts.substr(0, 4) + "-" + ts.substr(4, 2) + "-" + ts.substr(6, 2) + "T" + ts.substr(9, 2) + ":" +
                     ts.substr(11, 2) + ":" + ts.substr(13, 2);
  record.baslangic_iso = iso_offset_text(ts).value_or(record.baslangic);
  const fs::path meta = meta_dir(dir);
  const std::vector<DirEntry> entries = env.is_directory(meta) ? env.list_directory(meta) : std::vector<DirEntry>{};
  // The last manifest by name, should a season hold more than one.
  std::optional<fs::path> manifest_file;
  for (const DirEntry& entry : entries) {
    if (is_manifest_file(entry.path.filename().string()) && (!manifest_file || entry.path > *manifest_file)) {
      manifest_file = entry.path;
    }
  }
  const RecordReader::Record* manifest = manifest_file ? records.read(*manifest_file) : nullptr;
  if (manifest != nullptr) {
    read_manifest(manifest->document, record);
  } else {
    read_meta_records(entries, records, record);
  }
  if (season.run) {
    if (!season.run->baslangic.empty()) record.baslangic_iso = season.run->baslangic;
    record.bitis = season.run->bitis;
    record.exit = season.run->exit;
    record.sira = season.run->sira;
    record.durum = run_state(*season.run, dir.parent_path().parent_path());
  } else if (record.has_manifest) {
    record.durum = record.failed_steps().empty() ? RunState::kDone : RunState::kFailed;
  }
  return record;
}

std::vector<std::string> SeasonRecord::failed_steps() const {
  std::vector<std::string> steps;
  for (const StepOutcome& step : adimlar) {
    if (step.durum == StepStatus::kFailed || step.durum == StepStatus::kNotebookMissing) steps.push_back(step.kod);
  }
  return steps;
}

const StepOutcome* SeasonRecord::outcome(const std::string& kod) const {
  for (const StepOutcome& step : adimlar) {
    if (step.kod == kod) return &step;
  }
  return nullptr;
}

std::vector<SeasonDir> season_entries(const fs::path& work_dir, Env& env) {
  const fs::path seasons = seasons_dir(work_dir);
  std::vector<SeasonDir> found;
  if (!env.is_directory(seasons)) return found;
  for (const DirEntry& entry : env.list_directory(seasons)) {
    if (std::optional<SeasonName> name = parse_season_name(entry.path.filename().string())) {
      found.push_back({entry.path, std::move(*name), read_run_record(entry.path, env), entry.type});
    }
  }
  return found;
}

bool ran_later(const SeasonDir& a, const SeasonDir& b) {
  if (a.run.has_value() != b.run.has_value()) return a.run.has_value();
  if (a.run && a.run->sira != b.run->sira) return a.run->sira > b.run->sira;
  return a.name.ts != b.name.ts ? a.name.ts > b.name.ts : a.dir.filename() > b.dir.filename();
}

std::vector<SeasonDir> list_seasons(const fs::path& work_dir, Env& env) {
  std::vector<SeasonDir> found = season_entries(work_dir, env);
  std::erase_if(found, [](const SeasonDir& season) { return season.type != fs::file_type::directory; });
  std::sort(found.begin(), found.end(), ran_later);
  return found;
}

std::vector<SeasonRecord> read_history(const fs::path& work_dir, Env& env, Sink& warnings) {
  RecordReader reader(env);
  std::vector<SeasonRecord> records;
  for (const SeasonDir& season : list_seasons(work_dir, env)) {
    try {
      records.push_back(read_season(season, env, reader));
    } catch (const std::runtime_error& failure) {
      warnings.line(unreadable_season_line(season.dir, failure));
    }
  }
  return records;
}

std::string unreadable_season_line(const fs::path& dir, const std::exception& failure) {
  return "  [WARN] Sezon dizini okunamadı, atlandı: " + dir.string() + " (" + failure.what() + ")";
}

}  // namespace vordak::motor
