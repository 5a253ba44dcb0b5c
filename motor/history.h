#pragma once

// The runs of a working directory, read back from their seasons: each season's manifest
// (its counts and the outcome of every step), or, for a season without one (a run that
// crashed, a single `vordak step` call), the meta records of the steps that completed.
// Reads only; used by `vordak history` and the runs page.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/sink.h"
#include "motor/layout.h"
#include "motor/record_reader.h"
#include "motor/run_record.h"
#include "motor/run_report.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// What one season recorded of one step.
struct StepOutcome {
  std::string kod;
  StepStatus durum;
  std::string sure;   // display form ("42s", "1.5dk"); empty when not recorded
  std::string sebep;  // why it was skipped, or the failure; empty otherwise
  // What the step's data checks said: the check that stopped it, its warnings, and the
  // failed checks an operator accepted (with who, where and when), one line each.
  std::vector<std::string> veri_notlari{};
};

struct SeasonRecord {
  std::string season;  // the directory name
  fs::path dir;
  std::string mode;
  std::string baslangic;  // start, local time: YYYY-MM-DDTHH:MM:SS
  // The start and, once the run ended, its end, with their UTC offset.
  std::string baslangic_iso;
  std::optional<std::string> bitis;
  // The run's state and exit status. A season of an older version, which kept no run
  // record, counts as "tamam" or "hata" by its manifest, and as "kesildi" without one.
  RunState durum = RunState::kStopped;
  std::optional<int> exit;
  std::optional<std::int64_t> sira;  // the run's place in the order of runs
  bool has_manifest = false;
  std::optional<double> sure_dk;  // the manifest's total minutes
  // The counts the run's summary showed; for a season without a manifest, its meta
  // records counted as completed steps.
  int ok = 0, atlandi = 0, hata = 0, nb_yok = 0;
  std::vector<StepOutcome> adimlar;  // in the order the run recorded them
  std::vector<std::string> failed_steps() const;
  const StepOutcome* outcome(const std::string& kod) const;
};

// A season directory with its run record, the rest not read yet.
struct SeasonDir {
  fs::path dir;
  SeasonName name;
  std::optional<RunRecord> run;
  fs::file_type type = fs::file_type::directory;  // a link to a season is kSymlink
};
// Every entry under work_dir/seasons whose name is a season's (links included), with its
// run record, in no order. Throws std::runtime_error when the directory cannot be listed.
std::vector<SeasonDir> season_entries(const fs::path& work_dir, Env& env);
// The order of runs, newest first: by the run records' sequence numbers, and below every
// numbered run the seasons of older versions, which have none, by time stamp; then by
// name. Every reader of the order (history, prune, change detection) sorts with it.
bool ran_later(const SeasonDir& a, const SeasonDir& b);
// The season directories under work_dir/seasons, newest first (ran_later).
std::vector<SeasonDir> list_seasons(const fs::path& work_dir, Env& env);
// The season's manifest, else its meta records. A manifest or meta record that cannot be
// read or parsed is passed over.
SeasonRecord read_season(const SeasonDir& season, Env& env, RecordReader& records);

// Every season under work_dir/seasons, read, newest first. A season whose directory
// cannot be read is passed over with a line on `warnings` (unreadable_season_line).
std::vector<SeasonRecord> read_history(const fs::path& work_dir, Env& env, Sink& warnings);

// The line of a season directory that cannot be read and is passed over:
// "  [WARN] Sezon dizini okunamadı, atlandı: DIR (why)".
std::string unreadable_season_line(const fs::path& dir, const std::exception& failure);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
