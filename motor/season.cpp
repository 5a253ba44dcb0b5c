#include "motor/season.h"

#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "core/clock.h"
#include "core/io_error.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/fingerprint.h"
#include "motor/layout.h"
#include "motor/run_record.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

const char* const kDataPathFiles[] = {"local_data_paths.json", "data_paths_nt.json", "data_paths.json"};
// A map of data sources to directories; 16 MB holds hundreds of thousands of them.
constexpr std::uintmax_t kDataPathFileLimit = 16 << 20;

// True when a season of either mode already carries this time stamp.
bool season_second_taken(const fs::path& seasons, const std::string& ts, Env& env) {
  if (!env.is_directory(seasons)) return false;
  for (const DirEntry& entry : env.list_directory(seasons)) {
    if (entry.path.filename().string().substr(1).starts_with("_" + ts + "_")) return true;
  }
  return false;
}

// The start of the second after `time`.
TimePoint next_second(TimePoint time) {
  return std::chrono::time_point_cast<std::chrono::seconds>(time) + std::chrono::seconds(1);
}

}  // namespace

bool TerminalInput::interactive() const { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> TerminalInput::read_line() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

fs::path resolve_work_dir(const std::string& work_dir) { return fs::weakly_canonical(fs::absolute(work_dir)); }

DataPaths load_data_paths(const fs::path& work_dir, OperatorInput* input, Env& env, Sink& out) {
  for (const char* name : kDataPathFiles) {
    const fs::path file = work_dir / name;
    if (!env.exists(file)) continue;
    const std::string text = env.read_regular_file(file, kDataPathFileLimit);
    ordered_json document;
    try {
      document = parse_json(text);
    } catch (const ordered_json::exception& failure) {
      throw FileRefused(std::string(name) + " geçerli JSON değil: " + file.string() + " (" + failure.what() + ")", file);
    }
    if (!document.is_object()) {
      throw FileRefused(std::string(name) + " bir JSON nesnesi olmalı: " + file.string(), file);
    }
    out.line("  [CONFIG] " + std::string(name) + " yüklendi (" + std::to_string(document.size()) + " kaynak)");
    DataPaths paths;
    for (const auto& [key, value] : document.items()) {
      out.line("    " + key + ": " + python_text(value));
      paths.emplace_back(key, python_text(value));
    }
    return paths;
  }

  out.line("\n  [!] local_data_paths.json bulunamadı: " + work_dir.string());
  out.line("  Kaynak veri dizinlerini belirten bir JSON dosyası gerekli.");
  out.line("  Örnek: {\"kik_data_ham_csv\": \"/mnt/z/kik\", \"kredi_db\": \"/mnt/z/kredi\", ...}");
  if (input == nullptr || !input->interactive()) {
    out.line("  [AUTO] Non-interactive mod — external_data/ ile devam ediliyor");
    return {};
  }
  out.partial("\n  external_data/ ile devam edilsin mi? [e/H]: ");
  const std::optional<std::string> line = input->read_line();
  if (!line) throw std::runtime_error("EOF when reading a line");
  const std::string answer = to_lower(strip(*line));
  if (answer == "e" || answer == "evet") return {};
  throw StopRequest("Pipeline durduruldu — local_data_paths.json oluşturun.");
}

Season::Season(const MotorArgs& args, Env& env, Sink& out)
    : env_(env),
      work_dir_(resolve_work_dir(args.work_dir)),
      mode_(args.mode),
      force_all_(args.force_all),
      from_step_(args.from_step),
      muta_filter_path_(args.muta_filter_path.value_or("")),
      file_suffix_(args.file_suffix),
      accepted_checks_(args.accepted_checks),
      // Asked on a thread of its own while the season is set up, when git must be asked.
      git_info_(std::async(git_must_be_asked(work_dir_.string(), env) ? std::launch::async : std::launch::deferred,
                           [&env, dir = work_dir_.string()] { return motor::git_info(dir, env); })
                    .share()) {
  if (args.force_adimlar) force_adimlar_.insert(args.force_adimlar->begin(), args.force_adimlar->end());
  // Loaded before anything is created, so a run stopped at the prompt leaves nothing behind.
  data_paths_ = (args.data_paths && !args.data_paths->empty()) ? *args.data_paths
                                                                : load_data_paths(work_dir_, args.input.get(), env, out);

  refuse_unjoinable_sources();

  db_path_ = database_path(work_dir_, mode_of(mode_));
  output_dir_ = motor::output_dir(work_dir_);

  // One season per run: a run that starts within the second of an earlier one waits for
  // the next second, so that season names keep their format and never collide.
  // A dry run creates nothing and need not wait, but names the season as a run would:
  // it must not take an earlier run's season for its own.
  TimePoint start = env.now();
  while (season_second_taken(seasons_dir(work_dir_), timestamp_text(start), env)) {
    if (args.dry_run) {
      start = next_second(start);
    } else {
      env.sleep_until(next_second(start));
      start = env.now();
    }
  }
  ts_ = timestamp_text(start);
  season_adi_ = season_name(ts_, mode_, kVersion);
  season_dir_ = seasons_dir(work_dir_) / season_adi_;
  meta_dir_ = motor::meta_dir(season_dir_);
  log_dir_ = motor::log_dir(season_dir_);
  if (!args.dry_run) {
    for (const fs::path& dir : {meta_dir_, log_dir_, output_dir_}) env.create_directories(dir);
    // At once: a run cut off at any later point is still seen as a run.
    sira_ = start_run_record(work_dir_, season_dir_, env).sira;
  }

  pipeline_baslangic_ = env.now();

  const fs::path version_file = notebook_version_file(work_dir_);
  if (env.exists(version_file)) {
    const std::string nb_version = strip(env.read_file(version_file));
    if (nb_version != kVersion) {
      out.line("  ⚠ Notebook versiyonu (" + nb_version + ") != paket (" + kVersion + ")");
      out.line("    Çözüm: python -m vordak init");
    }
  }

  if (from_step_ && !from_step_->empty() && find_step(*from_step_) != nullptr) {
    for (const StepDefinition& step : step_table()) {
      if (step.kod == *from_step_) break;
      skip_before_.insert(step.kod);
    }
  }
}

void Season::refuse_unjoinable_sources() const {
  for (const StepDefinition& definition : step_table()) {
    if (definition.source_param != SourceParam::kSourceDirs) continue;
    for (const std::string& key : definition.data_sources) {
      const std::string dir = resolve_source(key);
      if (dir.find(',') != std::string::npos) {
        throw std::runtime_error("veri kaynağı " + key + " dizininde ',' var: " + dir + " (" + definition.kod +
                                 " dizinlerini SOURCE_DIRS içinde ',' ile ayrılmış alır)");
      }
    }
  }
}

std::optional<std::string> Season::before_start(const std::string& kod) const {
  if (!skip_before_.contains(kod)) return std::nullopt;
  return "--from " + from_step_.value_or("");
}

bool Season::git_available() const {
  const ordered_json& info = git_info();
  const auto available = info.find("git_available");
  return available != info.end() && available->is_boolean() && available->get<bool>();
}

std::optional<fs::path> Season::nb_path(const std::string& kod) const {
  const StepDefinition* record = find_step(kod);
  if (record == nullptr) return std::nullopt;
  const fs::path local = work_dir_ / record->nb;
  if (env_.exists(local)) return local;
  return std::nullopt;
}

std::string Season::resolve_source(const std::string& key) const {
  // data_paths override varsa onu kullan, yoksa external_data/subdir.
  for (const auto& [name, dir] : data_paths_) {
    if (name == key) return dir;
  }
  return (work_dir_ / "external_data" / key).string();
}

NotebookParams Season::base_params() const {
  const auto name = [](BaseParam param) { return std::string(base_param_name(param)); };
  NotebookParams params{{name(BaseParam::kDbPath), db_path_.string()},
                        {name(BaseParam::kOutputDir), output_dir_.string()},
                        {name(BaseParam::kWorkDir), work_dir_.string()}};
  if (!muta_filter_path_.empty()) params.set(name(BaseParam::kMutaFilterPath), muta_filter_path_);
  if (!file_suffix_.empty()) params.set(name(BaseParam::kFileSuffix), file_suffix_);
  return params;
}

}  // namespace vordak::motor
