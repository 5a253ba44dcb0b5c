#pragma once

// The record a run keeps of itself in its season, season_dir/run.json. It is written as
// soon as the season exists (the run's place in the working directory's order of runs,
// its start, its process) and again when the run ends (end, state, exit status). A run
// that died without ending keeps the first; the working directory's lock, held by its
// process or not, tells a run still going from one that was cut off.
//
// The order of runs is the record's sequence number ("sira"), given out under the
// working directory's lock: a clock set back, or a season directory's name, cannot make
// an older run look newer.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

namespace fs = std::filesystem;

inline constexpr const char* kRunRecordFile = "run.json";

enum class RunState { kDone, kFailed, kStopped, kRunning };
// "tamam", "hata", "kesildi", "sürüyor".
const char* run_state_text(RunState state);

struct RunRecord {
  std::int64_t sira = 0;
  std::string baslangic;  // ISO 8601 with the UTC offset
  long pid = 0;
  std::string makine;
  // Once the run has ended:
  std::optional<std::string> bitis;
  std::optional<RunState> durum;
  std::optional<int> exit;
};

// The season's record; absent when it has none (a season of an older version) or when it
// cannot be read or parsed.
std::optional<RunRecord> read_run_record(const fs::path& season_dir, Env& env);

// Starts the season's record: the next sequence number of the working directory (one
// above the highest any season records), the start time, this process and host. Throws
// std::runtime_error naming the file when it cannot be written. Called under the
// working directory's lock.
RunRecord start_run_record(const fs::path& work_dir, const fs::path& season_dir, Env& env);

// Adds the end, the state and the exit status to the season's record. A season that is
// gone (removed as unused) is left so. Throws std::runtime_error naming the file when it
// cannot be written.
void end_run_record(const fs::path& season_dir, RunState state, int exit_status, Env& env);

// The run's state: as recorded when it ended; else "sürüyor" while its process holds the
// working directory's lock, "kesildi" once nothing does.
RunState run_state(const RunRecord& record, const fs::path& work_dir);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
