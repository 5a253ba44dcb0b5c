#pragma once

// Change detection: the step meta records a run leaves, and from them the decision
// whether a step must run (first run, mode change, changed notebook code, changed
// repository object, changed source files), with forcing and the cascade applied.

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
#include "motor/quick_fingerprints.h"
#include "motor/record_reader.h"
#include "motor/season.h"

namespace vordak::motor {

// Whether a step must run, and why (the reason the console and the records show).
struct Decision {
  bool calistir = false;
  std::string sebep;
  bool operator==(const Decision&) const = default;
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
  void read_ahead(std::vector<std::string> kods) const;

  // The records read so far, for others that read the same seasons (the runs page).
  RecordReader& records() const { return records_; }

  // The newest meta record of the step from an earlier season of the same mode prefix;
  // records that cannot be read or parsed are passed over, and so are season
  // directories that cannot be read (with a "[WARN]" line, once).
  std::optional<ordered_json> find_prev_meta(const std::string& kod) const;
  // Check if step needs to run: compares the step with its previous record.
  Decision meta_kontrol(const std::string& kod) const;
  // Writes the step's meta record into the season's meta directory, atomically.
  void meta_yaz(const std::string& kod, const fs::path& nb_path, double sure,
                const std::optional<ordered_json>& source_hashes = std::nullopt,
                const std::optional<ordered_json>& ekstra = std::nullopt) const;
  // The whole decision for a step: the ingest rule or meta_kontrol, then forcing, then
  // the cascade from the upstream steps in `completed` (those that ran in this run),
  // then the cascade from upstream steps whose newest record is newer than the step's
  // own (a run that ended between the two).
  Decision decide(const std::string& kod, const std::set<std::string>& completed) const;

 private:
  // A step's newest earlier record and the season it was found in.
  struct Found {
    std::string season;
    const RecordReader::Record* record;
  };
  const std::optional<Found>& latest(const std::string& kod) const;
  // Earlier seasons of this mode prefix, newest first; read once per run.
  const std::vector<std::string>& earlier_seasons() const;
  void warn_unreadable(const fs::path& dir, const std::exception& failure) const;

  const Season& season_;
  Env& env_;
  Sink& out_;
  // Earlier seasons never change during a run, so what was read of them is kept.
  mutable std::optional<std::vector<std::string>> seasons_;
  mutable RecordReader records_;
  mutable std::optional<HelperThread> reader_;  // read_ahead's helper
  mutable std::map<std::string, std::optional<Found>> latest_;
  mutable std::set<std::string> unreadable_;
  // Of the paths in the records read, which stay as they are.
  mutable QuickFingerprints quick_;
};

// Quick fingerprints of the regular files found directly in the directories, by path in
// ascending order; missing directories are passed over.
ordered_json source_fingerprints(const std::vector<std::string>& dirs, Env& env);

}  // namespace vordak::motor
