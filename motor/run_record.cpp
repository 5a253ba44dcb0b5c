#include "motor/run_record.h"

#include <unistd.h>

#include <algorithm>

#include "core/clock.h"
#include "core/json_writer.h"
#include "core/operator_identity.h"
#include "motor/layout.h"
#include "motor/work_dir_lock.h"

namespace vordak::motor {

namespace {

constexpr RunState kStates[] = {RunState::kDone, RunState::kFailed, RunState::kStopped, RunState::kRunning};

ordered_json to_json(const RunRecord& record) {
  ordered_json json = ordered_json::object();
  json["sira"] = record.sira;
  json["baslangic"] = record.baslangic;
  json["pid"] = record.pid;
  json["makine"] = record.makine;
  if (record.bitis) json["bitis"] = *record.bitis;
  if (record.durum) json["durum"] = run_state_text(*record.durum);
  if (record.exit) json["exit"] = *record.exit;
  return json;
}

void write_record(const fs::path& season_dir, const RunRecord& record, Env& env) {
  env.write_file_atomic(season_dir / kRunRecordFile, to_json_text(to_json(record), JsonWriter::Layout::kIndented));
}

}  // namespace

const char* run_state_text(RunState state) {
  switch (state) {
    case RunState::kDone: return "tamam";
    case RunState::kFailed: return "hata";
    case RunState::kStopped: return "kesildi";
    case RunState::kRunning: return "sürüyor";
  }
  return "?";
}

std::optional<RunRecord> read_run_record(const fs::path& season_dir, Env& env) {
  try {
    const fs::path file = season_dir / kRunRecordFile;
    if (!env.exists(file)) return std::nullopt;
    const ordered_json json = parse_json(env.read_file(file));
    if (!json.is_object() || !json.contains("sira") || !json["sira"].is_number_integer()) return std::nullopt;
    RunRecord record;
    record.sira = json["sira"].get<std::int64_t>();
    if (json.contains("baslangic") && json["baslangic"].is_string()) record.baslangic = json["baslangic"].get<std::string>();
    if (json.contains("pid") && json["pid"].is_number_integer()) record.pid = json["pid"].get<long>();
    if (json.contains("makine") && json["makine"].is_string()) record.makine = json["makine"].get<std::string>();
    if (json.contains("bitis") && json["bitis"].is_string()) record.bitis = json["bitis"].get<std::string>();
    if (json.contains("exit") && json["exit"].is_number_integer()) record.exit = json["exit"].get<int>();
    if (json.contains("durum") && json["durum"].is_string()) {
      for (const RunState state : kStates) {
        if (json["durum"].get<std::string>() == run_state_text(state)) record.durum = state;
      }
    }
    return record;
  } catch (const std::exception&) {
    return std::nullopt;  // a record that cannot be read orders the season as an old one
  }
}

RunRecord start_run_record(const fs::path& work_dir, const fs::path& season_dir, Env& env) {
  RunRecord record;
  for (const DirEntry& entry : env.list_directory(seasons_dir(work_dir))) {
    if (entry.path == season_dir) continue;
    if (const std::optional<RunRecord> other = read_run_record(entry.path, env)) record.sira = std::max(record.sira, other->sira);
  }
  ++record.sira;
  record.baslangic = iso_offset_text(env.now());
  record.pid = static_cast<long>(::getpid());
  record.makine = operator_identity().host;
  write_record(season_dir, record, env);
  return record;
}

void end_run_record(const fs::path& season_dir, RunState state, int exit_status, Env& env) {
  std::optional<RunRecord> record = read_run_record(season_dir, env);
  if (!record) return;
  record->bitis = iso_offset_text(env.now());
  record->durum = state;
  record->exit = exit_status;
  write_record(season_dir, *record, env);
}

RunState run_state(const RunRecord& record, const fs::path& work_dir) {
  if (record.durum) return *record.durum;
  return lock_held_by(work_dir, record.pid, record.makine) ? RunState::kRunning : RunState::kStopped;
}

}  // namespace vordak::motor
