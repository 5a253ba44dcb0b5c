#include "motor/installed_notebooks.h"

#include "core/env.h"
#include "core/io_error.h"
#include "core/json_writer.h"
#include "motor/fingerprint.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

constexpr const char* kHeaderNotebook = "vrd_pipeline.ipynb";
// Install records hold one line per notebook: a few KB.
constexpr std::uintmax_t kInstallRecordLimit = 1 << 20;

// Unreadable counts as absent, as for a marker of a working directory.
bool present(const fs::path& path, Env& env) {
  try {
    return env.exists(path);
  } catch (const IoError&) {
    return false;
  }
}

}  // namespace

std::vector<std::string> package_notebook_names() {
  std::vector<std::string> names;
  for (const StepDefinition& step : step_table()) names.push_back(step.nb);
  names.push_back(kHeaderNotebook);
  return names;
}

InstallRecord read_install_record(const fs::path& work_dir, Env& env) {
  const fs::path file = work_dir / kInstallRecord;
  InstallRecord record;
  if (!present(file, env)) return record;
  ordered_json json;
  try {
    json = parse_json(env.read_regular_file(file, kInstallRecordLimit));
  } catch (const ordered_json::exception&) {
    return record;  // as if none: every notebook that differs is then left alone
  }
  const auto notebooks = json.find("notebooklar");
  if (!json.is_object() || notebooks == json.end() || !notebooks->is_object()) return record;
  for (const auto& [name, entry] : notebooks->items()) {
    if (!entry.is_object() || !entry.contains("hash") || !entry["hash"].is_string()) continue;
    const auto version = entry.find("versiyon");
    record[name] = {entry["hash"].get<std::string>(),
                    version != entry.end() && version->is_string() ? version->get<std::string>() : std::string()};
  }
  return record;
}

void write_install_record(const fs::path& work_dir, const InstallRecord& record, Env& env) {
  ordered_json notebooks = ordered_json::object();
  for (const auto& [name, entry] : record) notebooks[name] = {{"hash", entry.hash}, {"versiyon", entry.versiyon}};
  ordered_json json = ordered_json::object();
  json["notebooklar"] = std::move(notebooks);
  env.create_directories((work_dir / kInstallRecord).parent_path());
  env.write_file_atomic(work_dir / kInstallRecord, to_json_text(json, JsonWriter::Layout::kIndented));
}

std::string notebook_file_hash(const fs::path& file, Env& env) { return content_fingerprint(env.read_file(file)); }

std::vector<InstalledNotebook> installed_notebooks(const fs::path& work_dir, const fs::path& package_dir, Env& env) {
  const InstallRecord record = read_install_record(work_dir, env);
  std::vector<InstalledNotebook> found;
  for (const std::string& name : package_notebook_names()) {
    const fs::path local = work_dir / name;
    if (!present(local, env)) {
      found.push_back({name, NotebookState::kMissing, ""});
      continue;
    }
    const std::string hash = notebook_file_hash(local, env);
    if (present(package_dir / name, env) && hash == notebook_file_hash(package_dir / name, env)) {
      found.push_back({name, NotebookState::kCurrent, ""});
      continue;
    }
    const auto entry = record.find(name);
    if (entry == record.end()) {
      found.push_back({name, NotebookState::kUnrecorded, ""});
    } else if (entry->second.hash == hash) {
      found.push_back({name, NotebookState::kOld, entry->second.versiyon});
    } else {
      found.push_back({name, NotebookState::kEdited, ""});
    }
  }
  return found;
}

bool is_work_dir(const fs::path& dir, Env& env) {
  for (const char* marker : {kInstallRecord, "db/.nb_version", "local_data_paths.json", "data_paths_nt.json",
                             "data_paths.json", "seasons"}) {
    if (present(dir / marker, env)) return true;
  }
  for (const std::string& name : package_notebook_names()) {
    if (present(dir / name, env)) return true;
  }
  return false;
}

}  // namespace vordak::motor
