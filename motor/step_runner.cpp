#include "motor/step_runner.h"

#include "core/clock.h"
#include "core/text.h"
#include "motor/error_report.h"
#include "motor/fingerprint.h"
#include "motor/notebook_check.h"
#include "motor/registry.h"

namespace vordak::motor {

namespace {

constexpr std::size_t kConsoleErrorLength = 300;

}  // namespace

bool StepRunner::adim_isle(const std::string& kod, const std::optional<NotebookParams>& ek_params,
                           const KontrolFn& kontrol_fn, const std::optional<std::vector<std::string>>& source_dirs) {
  const AdimKaydi* record = ADIM_REGISTRY.find(kod);
  if (record == nullptr) {
    out_.line("  [!] Bilinmeyen adım: " + kod);
    return false;
  }
  const std::optional<fs::path> nb_path = season_.nb_path(kod);
  out_.line("\n  ── " + kod + " | " + record->aciklama + " ──");
  if (!nb_path) {
    out_.line("  [!] Notebook bulunamadı: " + record->nb);
    report_.notebook_missing(kod, record->nb);
    return false;
  }
  const std::string nb_name = nb_path->filename().string();
  const Fingerprint fingerprint = file_hash(nb_path->string());
  const std::string nb_hash = fingerprint && !fingerprint->empty() ? *fingerprint : "--";
  out_.line("  " + nb_name + " (" + nb_hash.substr(0, 8) + ")");

  if (season_.skip_before().contains(kod)) {
    const std::string sebep = "--from " + season_.from_step().value_or("");
    out_.line("  ATLANDI — " + sebep);
    report_.skipped_before_start(kod, nb_name, sebep);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  }

  const Decision decision = changes_.decide(kod, calisan_adimlar_);
  if (!decision.calistir) {
    out_.line("  ATLANDI — " + decision.sebep);
    report_.skipped(kod, nb_name, decision.sebep);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  }

  out_.line("  ÇALIŞTIRILIYOR — " + decision.sebep);
  const double t0 = epoch_seconds(env_.now());
  NotebookParams params = season_.base_params();
  if (ek_params) {
    for (const auto& [name, value] : *ek_params) params.set(name, value);
  }
  const fs::path out_nb = season_.log_dir() / ("adim_" + kod + "_" + nb_name);

  try {
    check_notebook(*nb_path, env_);
    // Sources are fingerprinted before the notebook runs: a file changed while the step
    // runs must make the next run see a change.
    ordered_json source_hashes = ordered_json::object();
    if (source_dirs && !source_dirs->empty() && !is_ingest_step(kod)) source_hashes = source_fingerprints(*source_dirs, env_);
    executor_.execute_notebook(nb_path->string(), out_nb.string(), params, season_.work_dir().string());
    const double sure = epoch_seconds(env_.now()) - t0;
    changes_.meta_yaz(kod, *nb_path, sure, source_hashes);
    calisan_adimlar_.insert(kod);
    out_.line("  OK " + sure_text(sure));
    report_.completed(kod, nb_name, sure, decision.sebep);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  } catch (const std::exception& failure) {
    const double sure = epoch_seconds(env_.now()) - t0;
    const std::string hata = utf8_prefix(failure.what(), kConsoleErrorLength);
    out_.line("  HATA — " + sure_text(sure) + "\n  " + hata);
    try {
      const fs::path report = season_.season_dir() / "error_report.txt";
      save_error_report(failure, season_.db_path(), "step=" + kod, report, env_);
      out_.line("  Hata raporu: " + report.string());
    } catch (const std::exception&) {
      // The report is best effort; the failure is already on the console and in the records.
    }
    report_.failed(kod, nb_name, sure, hata);
    return false;
  }
}

}  // namespace vordak::motor
