#pragma once

// What a run records of its steps and reports at its end: the summary rows and manifest
// entries each processed step leaves, the error-report housekeeping, the printed
// summary table and the JSON run manifest.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "motor/season.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// How a processed step ended.
enum class StepStatus { kOk, kSkipped, kFailed, kNotebookMissing };

// The operator's words for a status: "OK", "ATLANDI", "HATA", "NB YOK" in the summary,
// "NB_YOK" for a missing notebook in the manifest.
std::string_view summary_status_text(StepStatus status);
std::string_view manifest_status_text(StepStatus status);

// The reason of a step whose notebook found its sources unchanged.
inline constexpr const char* kKaynakDegismediSebep = "kaynak değişmedi";

// Display form of a duration: "42s" below a minute, else minutes with one decimal ("1.5dk").
std::string sure_text(double seconds);

// One row of the summary table; `sure` is the display form or "-".
struct OzetSatiri {
  std::string adim, nb, sure;
  StepStatus durum;
  std::string sebep;
  std::optional<double> saniye{};  // the duration of a step that ran
};

class RunReport {
 public:
  RunReport(const Season& season, Env& env, Sink& out) : season_(season), env_(env), out_(out) {}

  // One call per processed step, each appending its summary row and setting the step's
  // manifest entry (a later entry for the same step replaces the earlier one).
  void notebook_missing(const std::string& kod, const std::string& nb);
  void skipped_before_start(const std::string& kod, const std::string& nb, const std::string& sebep);
  void skipped(const std::string& kod, const std::string& nb, const std::string& sebep);
  void completed(const std::string& kod, const std::string& nb, double sure, const std::string& sebep);
  // Completed, but its notebook found its sources unchanged and changed nothing.
  void completed_unchanged(const std::string& kod, const std::string& nb, double sure);
  void failed(const std::string& kod, const std::string& nb, double sure, const std::string& hata);
  // What the data checks of a completed step found: warnings and accepted failures, added
  // to its manifest entry.
  void data_findings(const std::string& kod, const std::vector<std::string>& uyarilar, const ordered_json& kabul);
  // A failed step was stopped by this data check (or checks, joined by ",").
  void data_check_failed(const std::string& kod, const std::string& check);
  // The data check that stopped a failed step; empty when none did.
  std::string data_check(const std::string& kod) const;

  const std::vector<OzetSatiri>& ozet_satirlar() const { return ozet_satirlar_; }
  const ordered_json& manifest_adimlar() const { return manifest_adimlar_; }
  // The steps with a failed or missing-notebook row, each once, in the order processed.
  std::vector<std::string> failed_steps() const;

  // Removes the error reports of earlier seasons and of the two outputs locations, and
  // says how many it removed. The current season's report is kept: it holds this run's
  // failures, and the console named it.
  void temizle_error_reports() const;
  // Print pipeline summary.
  void ozet_yazdir() const;
  // Write final manifest JSON into the season's meta directory; returns its path.
  fs::path manifest_yaz() const;

 private:
  const Season& season_;
  Env& env_;
  Sink& out_;
  std::vector<OzetSatiri> ozet_satirlar_;
  ordered_json manifest_adimlar_ = ordered_json::object();
  std::map<std::string, std::string> data_checks_;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
