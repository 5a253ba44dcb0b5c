// End-of-run records: error-report housekeeping, the summary table and the manifest.

#include "core/clock.h"
#include "core/console.h"
#include "core/files.h"
#include "core/number_text.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/motor.h"

namespace vordak::motor {

namespace {

const std::string kRule(80, '=');

struct Counts {
  int ok = 0, atlandi = 0, hata = 0;
};

// "NB YOK" rows count toward none of the three.
Counts count_rows(const std::vector<OzetSatiri>& rows) {
  Counts counts;
  for (const OzetSatiri& row : rows) {
    if (row.durum == "OK") ++counts.ok;
    if (row.durum == "ATLANDI") ++counts.atlandi;
    if (row.durum == "HATA") ++counts.hata;
  }
  return counts;
}

std::string icon(const std::string& durum) {
  if (durum == "OK") return "OK";
  if (durum == "ATLANDI") return "SKIP";
  if (durum == "HATA") return "ERR";
  if (durum == "NB YOK") return "!!";
  return "?";
}

}  // namespace

void Motor::_temizle_error_reports() const {
  int deleted = 0;
  const fs::path seasons = work_dir / "seasons";
  if (fs::exists(seasons)) {
    std::vector<fs::path> reports;
    for (const auto& entry : fs::recursive_directory_iterator(seasons)) {
      if (entry.path().filename() == "error_report.txt" && !entry.is_directory()) reports.push_back(entry.path());
    }
    for (const fs::path& report : reports) {
      fs::remove(report);
      ++deleted;
    }
  }
  for (const fs::path& report : {work_dir / "outputs" / "json" / "error_report.txt", work_dir / "outputs" / "error_report.txt"}) {
    if (fs::exists(report)) {
      fs::remove(report);
      ++deleted;
    }
  }
  if (deleted > 0) say("  Temizlik: " + std::to_string(deleted) + " eski error_report silindi");
}

void Motor::ozet_yazdir() const {
  const double minutes = (epoch_seconds(Env::system().now()) - pipeline_baslangic) / 60;
  const Counts counts = count_rows(ozet_satirlar);
  say("\n" + kRule);
  say("  " + season_adi + " | " + to_upper(mode));
  say(kRule);
  say("  " + pad_right("Adım", 22) + " " + pad_right("Notebook", 38) + " " + pad_left("Süre", 6) + "  Durum");
  say("  " + std::string(22, '-') + " " + std::string(38, '-') + " " + std::string(6, '-') + "  " + std::string(8, '-'));
  for (const OzetSatiri& row : ozet_satirlar) {
    say("  " + pad_right(row.adim, 22) + " " + pad_right(row.nb, 38) + " " + pad_left(row.sure, 6) + "  [" +
        icon(row.durum) + "]");
  }
  say("\n  Süre: " + fixed_text(minutes, 1) + "dk | OK:" + std::to_string(counts.ok) +
      " Atlandı:" + std::to_string(counts.atlandi) + " Hata:" + std::to_string(counts.hata));
  say("  Season: " + season_dir.string());
}

fs::path Motor::manifest_yaz() const {
  const double minutes = (epoch_seconds(Env::system().now()) - pipeline_baslangic) / 60;
  const Counts counts = count_rows(ozet_satirlar);
  ordered_json manifest = ordered_json::object();
  manifest["season"] = season_adi;
  manifest["pipeline_ts"] = ts;
  manifest["pkg_version"] = kVersion;
  manifest["tarih"] = iso_text(Env::system().now());
  manifest["mode"] = mode;
  manifest["git"] = git_info;
  manifest["parametreler"] = {
      {"force_all", force_all},
      {"force_adimlar", ordered_json(std::vector<std::string>(force_adimlar.begin(), force_adimlar.end()))},
      {"from_step", from_step ? ordered_json(*from_step) : ordered_json(nullptr)},
  };
  manifest["sonuc"] = {
      {"toplam_sure_dk", round_half_even(minutes, 1)},
      {"ok", counts.ok},
      {"atlandi", counts.atlandi},
      {"hata", counts.hata},
  };
  manifest["adimlar"] = manifest_adimlar;
  const fs::path path = meta_dir / ("manifest_" + ts + ".json");
  write_file_atomic(path, to_json_text(manifest, JsonWriter::Layout::kIndented));
  say("\n  Manifest: " + path.string());
  return path;
}

}  // namespace vordak::motor
