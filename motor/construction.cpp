#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "core/clock.h"
#include "core/console.h"
#include "core/files.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/motor.h"
#include "motor/paths.h"

namespace vordak::motor {

namespace {

const char* const kDataPathFiles[] = {"local_data_paths.json", "data_paths_nt.json", "data_paths.json"};

}  // namespace

bool TerminalInput::interactive() const { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> TerminalInput::read_line() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

Motor::Motor(MotorArgs args)
    : executor_(std::move(args.executor)), input_(std::move(args.input)), notebooks_dir_(std::move(args.notebooks_dir)) {
  if (!input_) input_ = std::make_shared<TerminalInput>();
  ::setenv("PYDEVD_DISABLE_FILE_VALIDATION", "1", 1);

  work_dir = fs::weakly_canonical(fs::absolute(args.work_dir));
  mode = args.mode;
  force_all = args.force_all;
  if (args.force_adimlar) force_adimlar.insert(args.force_adimlar->begin(), args.force_adimlar->end());
  from_step = args.from_step;
  muta_filter_path = args.muta_filter_path.value_or("");
  file_suffix = args.file_suffix;
  // Loaded before anything is created, so a run stopped at the prompt leaves nothing behind.
  data_paths = (args.data_paths && !args.data_paths->empty()) ? *args.data_paths : _load_data_paths();

  db_path = work_dir / "db" / (mode == "test" ? "vrd_test.duckdb" : "vrd.duckdb");
  output_dir = work_dir / "outputs" / "json";

  ts = timestamp_text(Env::system().now());
  season_adi = std::string(mode == "test" ? "T" : "S") + "_" + ts + "_" + mode + "_" + kVersion;
  season_dir = work_dir / "seasons" / season_adi;
  meta_dir = season_dir / "meta";
  log_dir = season_dir / "logs";
  if (!args.dry_run) {
    for (const fs::path& dir : {meta_dir, log_dir, output_dir}) fs::create_directories(dir);
  }

  pipeline_baslangic = epoch_seconds(Env::system().now());
  git_info = _git_info(work_dir.string());

  const fs::path version_file = work_dir / "db" / ".nb_version";
  if (fs::exists(version_file)) {
    const std::string nb_version = strip(read_file(version_file));
    if (nb_version != kVersion) {
      say("  ⚠ Notebook versiyonu (" + nb_version + ") != paket (" + kVersion + ")");
      say("    Çözüm: python -m vordak init");
    }
  }

  if (from_step && !from_step->empty() && ADIM_REGISTRY.contains(*from_step)) {
    for (const auto& [key, record] : ADIM_REGISTRY) {
      if (key == *from_step) break;
      _skip_before.insert(key);
    }
  }
}

DataPaths Motor::_load_data_paths() {
  for (const char* name : kDataPathFiles) {
    const fs::path file = work_dir / name;
    if (!fs::exists(file)) continue;
    ordered_json document;
    try {
      document = parse_json(read_file(file));
    } catch (const ordered_json::exception& failure) {
      throw std::runtime_error(std::string(name) + " geçerli JSON değil: " + file.string() + " (" + failure.what() + ")");
    }
    if (!document.is_object()) {
      throw std::runtime_error(std::string(name) + " bir JSON nesnesi olmalı: " + file.string());
    }
    say("  [CONFIG] " + std::string(name) + " yüklendi (" + std::to_string(document.size()) + " kaynak)");
    DataPaths paths;
    for (const auto& [key, value] : document.items()) {
      say("    " + key + ": " + python_text(value));
      paths.emplace_back(key, python_text(value));
    }
    return paths;
  }

  say("\n  [!] local_data_paths.json bulunamadı: " + work_dir.string());
  say("  Kaynak veri dizinlerini belirten bir JSON dosyası gerekli.");
  say("  Örnek: {\"kik_data_ham_csv\": \"/mnt/z/kik\", \"kredi_db\": \"/mnt/z/kredi\", ...}");
  if (!input_->interactive()) {
    say("  [AUTO] Non-interactive mod — external_data/ ile devam ediliyor");
    return {};
  }
  std::fputs("\n  external_data/ ile devam edilsin mi? [e/H]: ", stdout);
  std::fflush(stdout);
  const std::optional<std::string> line = input_->read_line();
  if (!line) throw std::runtime_error("EOF when reading a line");
  const std::string answer = to_lower(strip(*line));
  if (answer == "e" || answer == "evet") return {};
  throw StopRequest("Pipeline durduruldu — local_data_paths.json oluşturun.");
}

std::optional<fs::path> Motor::_nb_path(const std::string& kod) const {
  const AdimKaydi* record = ADIM_REGISTRY.find(kod);
  if (record == nullptr) return std::nullopt;
  const fs::path local = work_dir / record->nb;
  if (fs::exists(local)) return local;
  try {
    const fs::path packaged = notebooks_dir_.value_or(paths::get_notebooks_dir()) / record->nb;
    if (fs::exists(packaged)) return packaged;
  } catch (const std::exception&) {
    // No notebook directory: the step simply has no notebook.
  }
  return std::nullopt;
}

}  // namespace vordak::motor
