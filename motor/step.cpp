// Processing of one pipeline step: decide run or skip, execute, fingerprint, record.

#include <algorithm>

#include "core/clock.h"
#include "core/console.h"
#include "core/number_text.h"
#include "core/text.h"
#include "motor/error_report.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"

namespace vordak::motor {

namespace {

constexpr std::size_t kConsoleErrorLength = 300;
constexpr std::size_t kSummaryErrorLength = 80;

// Quick fingerprints of the regular files found directly in the directories, in path order.
ordered_json source_fingerprints(const std::vector<std::string>& dirs) {
  ordered_json hashes = ordered_json::object();
  for (const std::string& dir : dirs) {
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dir)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
      if (!fs::is_regular_file(entry)) continue;
      if (const Fingerprint hash = _fast_file_hash(entry.string()); hash && !hash->empty()) hashes[entry.string()] = *hash;
    }
  }
  return hashes;
}

}  // namespace

std::string sure_text(double seconds) {
  if (seconds < 60) return fixed_text(seconds, 0) + "s";
  return fixed_text(seconds / 60, 1) + "dk";
}

std::pair<bool, std::string> Motor::due_decision(const std::string& kod, const std::set<std::string>& completed) const {
  const bool force = force_all || force_adimlar.contains(kod);
  auto [calistir, sebep] =
      is_ingest_step(kod) ? std::make_pair(true, std::string("ingest — notebook kontrol eder")) : meta_kontrol(kod);
  if (force && !calistir) {
    calistir = true;
    sebep = "ZORLA (" + sebep + ")";
  }
  if (!calistir) {
    std::vector<std::string> tetikleyenler;
    if (const auto* upstream = BAGIMLILIK.find(kod)) {
      for (const std::string& step : *upstream) {
        if (completed.contains(step)) tetikleyenler.push_back(step);
      }
    }
    if (!tetikleyenler.empty()) {
      calistir = true;
      sebep = "cascade (" + join(tetikleyenler, ",") + ")";
    }
  }
  return {calistir, sebep};
}

NotebookParams Motor::base_params() const {
  NotebookParams params{{"DB_PATH", db_path.string()}, {"OUTPUT_DIR", output_dir.string()}, {"WORK_DIR", work_dir.string()}};
  if (!muta_filter_path.empty()) params.set("MUTA_FILTER_PATH", muta_filter_path);
  if (!file_suffix.empty()) params.set("FILE_SUFFIX", file_suffix);
  return params;
}

bool Motor::adim_isle(const std::string& kod, const std::optional<NotebookParams>& ek_params,
                      const KontrolFn& kontrol_fn, const std::optional<std::vector<std::string>>& source_dirs) {
  const AdimKaydi* record = ADIM_REGISTRY.find(kod);
  if (record == nullptr) {
    say("  [!] Bilinmeyen adım: " + kod);
    return false;
  }
  const std::optional<fs::path> nb_path = _nb_path(kod);
  say("\n  ── " + kod + " | " + record->aciklama + " ──");
  if (!nb_path) {
    say("  [!] Notebook bulunamadı: " + record->nb);
    ozet_satirlar.push_back({kod, record->nb, "-", "NB YOK", "bulunamadı"});
    manifest_adimlar[kod] = {{"durum", "NB_YOK"}};
    return false;
  }
  const std::string nb_name = nb_path->filename().string();
  const Fingerprint fingerprint = _file_hash(nb_path->string());
  const std::string nb_hash = fingerprint && !fingerprint->empty() ? *fingerprint : "--";
  say("  " + nb_name + " (" + nb_hash.substr(0, 8) + ")");

  if (_skip_before.contains(kod)) {
    const std::string sebep = "--from " + from_step.value_or("");
    say("  ATLANDI — " + sebep);
    ozet_satirlar.push_back({kod, nb_name, "-", "ATLANDI", sebep});
    manifest_adimlar[kod] = {{"durum", "ATLANDI"}, {"sebep", sebep}};
    if (kontrol_fn) kontrol_fn(work_dir);
    return true;
  }

  const auto [calistir, sebep] = due_decision(kod, calisan_adimlar);
  if (!calistir) {
    say("  ATLANDI — " + sebep);
    ozet_satirlar.push_back({kod, nb_name, "-", "ATLANDI", sebep});
    manifest_adimlar[kod] = {{"notebook", nb_name}, {"durum", "ATLANDI"}, {"sebep", sebep}};
    if (kontrol_fn) kontrol_fn(work_dir);
    return true;
  }

  say("  ÇALIŞTIRILIYOR — " + sebep);
  const double t0 = epoch_seconds(Env::system().now());
  NotebookParams params = base_params();
  if (ek_params) {
    for (const auto& [name, value] : *ek_params) params.set(name, value);
  }
  const fs::path out_nb = log_dir / ("adim_" + kod + "_" + nb_name);

  try {
    // Sources are fingerprinted before the notebook runs: a file changed while the step
    // runs must make the next run see a change.
    ordered_json source_hashes = ordered_json::object();
    if (source_dirs && !source_dirs->empty() && !is_ingest_step(kod)) source_hashes = source_fingerprints(*source_dirs);
    if (!executor_) executor_ = make_default_executor();
    executor_->execute_notebook(nb_path->string(), out_nb.string(), params, work_dir.string());
    const double sure = epoch_seconds(Env::system().now()) - t0;
    meta_yaz(kod, *nb_path, sure, source_hashes);
    calisan_adimlar.insert(kod);
    say("  OK " + sure_text(sure));
    ozet_satirlar.push_back({kod, nb_name, sure_text(sure), "OK", sebep});
    manifest_adimlar[kod] = {{"notebook", nb_name}, {"durum", "OK"}, {"sure", sure_text(sure)}};
    if (kontrol_fn) kontrol_fn(work_dir);
    return true;
  } catch (const std::exception& failure) {
    const std::string shown = sure_text(epoch_seconds(Env::system().now()) - t0);
    const std::string hata = utf8_prefix(failure.what(), kConsoleErrorLength);
    say("  HATA — " + shown + "\n  " + hata);
    try {
      const fs::path report = season_dir / "error_report.txt";
      save_error_report(failure, db_path, "step=" + kod, report);
      say("  Hata raporu: " + report.string());
    } catch (const std::exception&) {
      // The report is best effort; the failure is already on the console and in the records.
    }
    ozet_satirlar.push_back({kod, nb_name, shown, "HATA", utf8_prefix(hata, kSummaryErrorLength)});
    manifest_adimlar[kod] = {{"notebook", nb_name}, {"durum", "HATA"}, {"hata", hata}};
    return false;
  }
}

}  // namespace vordak::motor
