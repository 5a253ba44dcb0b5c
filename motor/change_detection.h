#pragma once

// Change detection: from the meta records earlier runs left (step_record_writer.h), the
// decision whether a step must run (first run, mode change, changed notebook code,
// changed repository object, changed source files), with forcing and the cascade applied.
// What it reads of earlier seasons, which never change during a run, it keeps: its
// lookups are not const.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/helper_thread.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "motor/fingerprint.h"
#include "motor/notebook_params.h"
#include "motor/quick_fingerprints.h"
#include "motor/record_reader.h"
#include "motor/season.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// Whether a step must run, and why (the reason the console and the records show).
struct Decision {
  bool calistir = false;
  std::string sebep;
  bool engellendi = false;  // skipped because a step it reads was stopped by a data check
  bool operator==(const Decision&) const = default;
};

// What a run has done so far, as the decisions of its later steps see it: the steps that
// changed their outputs in this run, in order, and where the run stood when each step was
// last decided.
class RunProgress {
 public:
  // The step has been decided (it then ran, was skipped or failed).
  void decided(const std::string& kod) { last_decided_[kod] = changes_.size(); }
  // The step ran and changed its outputs.
  void changed(const std::string& kod) {
    calisan_adimlar_.insert(kod);
    changes_.push_back(kod);
  }
  // A data check stopped the step, or a step it reads: nothing that reads it may run.
  void block(const std::string& kod) { blocked_.insert(kod); }
  // The steps that changed their outputs in this run.
  const std::set<std::string>& calisan_adimlar() const { return calisan_adimlar_; }
  bool was_decided(const std::string& kod) const { return last_decided_.contains(kod); }
  // Of `steps`, in their order, those that changed their outputs after `kod` was last
  // decided; all that changed in the run when `kod` has not been decided yet.
  std::vector<std::string> changed_since(const std::string& kod, const std::vector<std::string>& steps) const;
  // Of `steps`, in their order, those that are blocked.
  std::vector<std::string> blocked_among(const std::vector<std::string>& steps) const;

 private:
  std::set<std::string> calisan_adimlar_;
  std::set<std::string> blocked_;
  std::vector<std::string> changes_;
  std::map<std::string, std::size_t> last_decided_;
};

// How a step comes to be decided: the source directories of its run, and the reader it
// runs before when a run adds it as that reader's prerequisite.
struct StepContext {
  const std::vector<std::string>* source_dirs = nullptr;
  std::optional<std::string> prerequisite_of;
};

// A step as a run offers it.
struct OfferedStep {
  std::string kod;
  std::optional<NotebookParams> ek_params;
  std::optional<std::vector<std::string>> source_dirs;
  // The run added the step because this reader needs its outputs and it never ran.
  std::optional<std::string> prerequisite_of;
};

class ChangeDetector {
 public:
  ChangeDetector(const Season& season, Env& env, Sink& out)
      : season_(season), env_(env), out_(out), records_(env), quick_(env) {}
  ChangeDetector(const ChangeDetector&) = delete;
  ChangeDetector& operator=(const ChangeDetector&) = delete;

  // Starts reading the newest records of these steps on a helper thread, so that their
  // decisions find them read. A head start only: the decisions look for the records as
  // always, and whatever the helper cannot read they read themselves.
  void read_ahead(std::vector<std::string> kods);

  // The records read so far, for others that read the same seasons (the runs page).
  RecordReader& records() { return records_; }

  // The newest meta record of the step from an earlier season of the same mode prefix;
  // records that cannot be read or parsed are passed over, and so are season
  // directories that cannot be read (with a "[WARN]" line, once).
  std::optional<ordered_json> find_prev_meta(const std::string& kod);
  // Check if step needs to run: compares the step with its previous record.
  Decision meta_kontrol(const std::string& kod);
  // The whole decision for a step: skipped when a step it reads was stopped by a data
  // check in this run; else the prerequisite or ingest rule or meta_kontrol, then
  // forcing, then the cascade from the step's inputs (upstream and read steps) that
  // changed their outputs in this run since the step was last decided, then the cascade
  // from inputs whose last change is recorded in a newer season than the step's own
  // record (a run that ended between the two).
  Decision decide(const std::string& kod, const RunProgress& progress, const StepContext& context = {});
  // decide() for a step as the run offers it, noted in `progress` as decided (and as
  // blocked when a step it reads was stopped). The run and its dry run both decide so.
  Decision decide_offered(const OfferedStep& step, RunProgress& progress);
  // True when the step has ended "OK" in an earlier season of this mode.
  bool has_run_before(const std::string& kod) { return latest(kod).has_value(); }
  // The season in which the step's newest record says its outputs last changed: the
  // record's own season, unless the step ran and found nothing to change.
  std::optional<std::string> last_change_season(const std::string& kod);

 private:
  // A step's newest earlier record and the season it was found in.
  struct Found {
    std::string season;
    const RecordReader::Record* record;
  };
  const std::optional<Found>& latest(const std::string& kod);
  // Earlier seasons of this mode prefix, newest first; read once per run.
  const std::vector<std::string>& earlier_seasons();
  // The decision of an ingest step, whose notebook decides for itself whether to load:
  // it runs unless its notebook, mode, database and source files are all as its last
  // record found them.
  Decision ingest_kontrol(const std::string& kod, const std::vector<std::string>* source_dirs);
  // Whether a season named in a record is newer than `season`, an earlier season. A
  // season no longer there was pruned, and prune removes the oldest: it is not newer.
  bool newer_season(const std::string& candidate, const std::string& season);
  void warn_unreadable(const fs::path& dir, const std::exception& failure);

  const Season& season_;
  Env& env_;
  Sink& out_;
  // Earlier seasons never change during a run, so what was read of them is kept.
  std::optional<std::vector<std::string>> seasons_;
  RecordReader records_;
  std::optional<HelperThread> reader_;  // read_ahead's helper
  std::map<std::string, std::optional<Found>> latest_;
  std::map<std::string, std::size_t> season_rank_;  // earlier_seasons() by name
  std::set<std::string> unreadable_;
  // Of the paths in the records read, which stay as they are.
  QuickFingerprints quick_;
};

// Quick fingerprints of the regular files found directly in the directories, by path in
// ascending order; missing directories are passed over.
ordered_json source_fingerprints(const std::vector<std::string>& dirs, Env& env);

// Meta record members an ingest step adds when its notebook found its sources unchanged
// and kept its tables: that fact, and the season of the tables' last change.
inline constexpr const char* kKaynakDegismedi = "kaynak_degismedi";
inline constexpr const char* kSonDegisiklik = "son_degisiklik";

}  // namespace vordak::motor

VORDAK_PUBLIC_END
