#include "motor/run_report.h"

#include <algorithm>

#include "core/clock.h"
#include "core/number_text.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/layout.h"

namespace vordak::motor {

namespace {

const std::string kRule(80, '=');
constexpr std::size_t kSummaryErrorLength = 80;

struct Counts {
  int ok = 0, atlandi = 0, hata = 0;
};

// A missing notebook counts toward none of the three.
Counts count_rows(const std::vector<OzetSatiri>& rows) {
  Counts counts;
  for (const OzetSatiri& row : rows) {
    if (row.durum == StepStatus::kOk) ++counts.ok;
    if (row.durum == StepStatus::kSkipped) ++counts.atlandi;
    if (row.durum == StepStatus::kFailed) ++counts.hata;
  }
  return counts;
}

std::string_view icon(StepStatus status) {
  switch (status) {
    case StepStatus::kOk: return "OK";
    case StepStatus::kSkipped: return "SKIP";
    case StepStatus::kFailed: return "ERR";
    case StepStatus::kNotebookMissing: return "!!";
  }
  return "?";
}

double minutes_since(TimePoint start, TimePoint now) { return (epoch_seconds(now) - epoch_seconds(start)) / 60; }

}  // namespace

std::string_view summary_status_text(StepStatus status) {
  switch (status) {
    case StepStatus::kOk: return "OK";
    case StepStatus::kSkipped: return "ATLANDI";
    case StepStatus::kFailed: return "HATA";
    case StepStatus::kNotebookMissing: return "NB YOK";
  }
  return "";
}

std::string_view manifest_status_text(StepStatus status) {
  return status == StepStatus::kNotebookMissing ? "NB_YOK" : summary_status_text(status);
}

std::string sure_text(double seconds) {
  if (seconds < 60) return fixed_text(seconds, 0) + "s";
  return fixed_text(seconds / 60, 1) + "dk";
}

void RunReport::notebook_missing(const std::string& kod, const std::string& nb) {
  const StepStatus status = StepStatus::kNotebookMissing;
  ozet_satirlar_.push_back({kod, nb, "-", status, "bulunamadı"});
  manifest_adimlar_[kod] = {{"durum", manifest_status_text(status)}};
}

void RunReport::skipped_before_start(const std::string& kod, const std::string& nb, const std::string& sebep) {
  const StepStatus status = StepStatus::kSkipped;
  ozet_satirlar_.push_back({kod, nb, "-", status, sebep});
  manifest_adimlar_[kod] = {{"durum", manifest_status_text(status)}, {"sebep", sebep}};
}

void RunReport::skipped(const std::string& kod, const std::string& nb, const std::string& sebep) {
  const StepStatus status = StepStatus::kSkipped;
  ozet_satirlar_.push_back({kod, nb, "-", status, sebep});
  manifest_adimlar_[kod] = {{"notebook", nb}, {"durum", manifest_status_text(status)}, {"sebep", sebep}};
}

void RunReport::completed(const std::string& kod, const std::string& nb, double sure, const std::string& sebep) {
  const StepStatus status = StepStatus::kOk;
  ozet_satirlar_.push_back({kod, nb, sure_text(sure), status, sebep, sure});
  manifest_adimlar_[kod] = {{"notebook", nb}, {"durum", manifest_status_text(status)}, {"sure", sure_text(sure)}};
}

void RunReport::completed_unchanged(const std::string& kod, const std::string& nb, double sure) {
  completed(kod, nb, sure, kKaynakDegismediSebep);
  // The reason travels with the entry: a reader of the manifest must not take the step
  // for one that changed its tables.
  manifest_adimlar_[kod]["sebep"] = kKaynakDegismediSebep;
}

void RunReport::failed(const std::string& kod, const std::string& nb, double sure, const std::string& hata) {
  const StepStatus status = StepStatus::kFailed;
  ozet_satirlar_.push_back({kod, nb, sure_text(sure), status, utf8_prefix(hata, kSummaryErrorLength), sure});
  manifest_adimlar_[kod] = {{"notebook", nb}, {"durum", manifest_status_text(status)}, {"hata", hata}};
}

void RunReport::data_findings(const std::string& kod, const std::vector<std::string>& uyarilar, const ordered_json& kabul) {
  if (!uyarilar.empty()) manifest_adimlar_[kod]["uyarilar"] = uyarilar;
  if (!kabul.empty()) manifest_adimlar_[kod]["kabul"] = kabul;
}

void RunReport::data_check_failed(const std::string& kod, const std::string& check) {
  data_checks_[kod] = check;
  manifest_adimlar_[kod]["veri_kontrolu"] = check;
}

std::string RunReport::data_check(const std::string& kod) const {
  const auto found = data_checks_.find(kod);
  return found == data_checks_.end() ? "" : found->second;
}

std::vector<std::string> RunReport::failed_steps() const {
  std::vector<std::string> steps;
  for (const OzetSatiri& row : ozet_satirlar_) {
    const bool failure = row.durum == StepStatus::kFailed || row.durum == StepStatus::kNotebookMissing;
    if (failure && std::find(steps.begin(), steps.end(), row.adim) == steps.end()) steps.push_back(row.adim);
  }
  return steps;
}

void RunReport::temizle_error_reports() const {
  int deleted = 0;
  const fs::path seasons = seasons_dir(season_.work_dir());
  // Every error_report.txt below seasons/, at any depth, but the current season's: the
  // "Hata raporu" line of this run points to it.
  std::vector<fs::path> pending;
  if (env_.is_directory(seasons)) pending.push_back(seasons);
  while (!pending.empty()) {
    const fs::path dir = pending.back();
    pending.pop_back();
    std::vector<DirEntry> entries;
    try {
      entries = env_.list_directory(dir);
    } catch (const std::runtime_error& failure) {
      out_.line("  [WARN] Dizin okunamadı, atlandı: " + dir.string() + " (" + failure.what() + ")");
      continue;
    }
    for (const DirEntry& entry : entries) {
      if (entry.type == fs::file_type::directory) {
        if (entry.path != season_.season_dir()) pending.push_back(entry.path);
      } else if (entry.path.filename() == "error_report.txt" && env_.remove_file(entry.path)) {
        ++deleted;
      }
    }
  }
  const fs::path outputs = season_.work_dir() / "outputs";
  for (const fs::path& report : {outputs / "json" / "error_report.txt", outputs / "error_report.txt"}) {
    if (env_.exists(report) && env_.remove_file(report)) ++deleted;
  }
  if (deleted > 0) out_.line("  Temizlik: " + std::to_string(deleted) + " eski error_report silindi");
}

void RunReport::ozet_yazdir() const {
  const double minutes = minutes_since(season_.pipeline_baslangic(), env_.now());
  const Counts counts = count_rows(ozet_satirlar_);
  out_.line("\n" + kRule);
  out_.line("  " + season_.season_adi() + " | " + to_upper(season_.mode()));
  out_.line(kRule);
  out_.line("  " + pad_right("Adım", 22) + " " + pad_right("Notebook", 38) + " " + pad_left("Süre", 6) + "  Durum");
  out_.line("  " + std::string(22, '-') + " " + std::string(38, '-') + " " + std::string(6, '-') + "  " + std::string(8, '-'));
  for (const OzetSatiri& row : ozet_satirlar_) {
    out_.line("  " + pad_right(row.adim, 22) + " " + pad_right(row.nb, 38) + " " + pad_left(row.sure, 6) + "  [" +
              std::string(icon(row.durum)) + "]");
  }
  out_.line("\n  Süre: " + fixed_text(minutes, 1) + "dk | OK:" + std::to_string(counts.ok) +
            " Atlandı:" + std::to_string(counts.atlandi) + " Hata:" + std::to_string(counts.hata));
  out_.line("  Season: " + season_.season_dir().string());
}

fs::path RunReport::manifest_yaz() const {
  const TimePoint now = env_.now();
  const Counts counts = count_rows(ozet_satirlar_);
  const std::set<std::string>& forced = season_.force_adimlar();
  const std::optional<std::string>& from_step = season_.from_step();
  ordered_json manifest = ordered_json::object();
  manifest["season"] = season_.season_adi();
  manifest["pipeline_ts"] = season_.ts();
  manifest["pkg_version"] = kVersion;
  manifest["tarih"] = iso_text(now);
  manifest["mode"] = season_.mode();
  manifest["git"] = season_.git_info();
  manifest["parametreler"] = {
      {"force_all", season_.force_all()},
      {"force_adimlar", ordered_json(std::vector<std::string>(forced.begin(), forced.end()))},
      {"from_step", from_step ? ordered_json(*from_step) : ordered_json(nullptr)},
  };
  manifest["sonuc"] = {
      {"toplam_sure_dk", round_half_even(minutes_since(season_.pipeline_baslangic(), now), 1)},
      {"ok", counts.ok},
      {"atlandi", counts.atlandi},
      {"hata", counts.hata},
  };
  manifest["adimlar"] = manifest_adimlar_;
  const fs::path path = season_.meta_dir() / manifest_file_name(season_.ts());
  env_.write_file_atomic(path, to_json_text(manifest, JsonWriter::Layout::kIndented));
  out_.line("\n  Manifest: " + path.string());
  return path;
}

}  // namespace vordak::motor
