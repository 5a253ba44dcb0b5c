#pragma once

// The meta record a step leaves in its season when it completed: what the next run's
// change detection compares the step with.

#include <filesystem>
#include <optional>
#include <string>

#include "core/env.h"
#include "core/json_writer.h"
#include "motor/fingerprint.h"
#include "motor/season.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// The notebook's code and git fingerprints as its file holds them now (no git
// fingerprint when the season has no repository).
struct NotebookPrints {
  Fingerprint nb_hash, git_nb_hash;
};
NotebookPrints notebook_prints(const Season& season, const fs::path& nb_path, Env& env);

class StepRecordWriter {
 public:
  StepRecordWriter(const Season& season, Env& env) : season_(season), env_(env) {}

  // Writes the step's meta record into the season's meta directory, atomically. The
  // notebook's fingerprints are those taken when its step started (`printed`), else
  // taken now: a notebook replaced while its step ran must look changed to the next run.
  void write(const std::string& kod, const fs::path& nb_path, double sure,
             const std::optional<ordered_json>& source_hashes = std::nullopt,
             const std::optional<ordered_json>& ekstra = std::nullopt,
             const std::optional<NotebookPrints>& printed = std::nullopt);

 private:
  const Season& season_;
  Env& env_;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
