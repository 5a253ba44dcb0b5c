#include "motor/layout.h"

namespace vordak::motor {

namespace {

constexpr std::string_view kMetaPrefix = "adim_";
constexpr std::string_view kManifestPrefix = "manifest_";
constexpr std::string_view kJson = ".json";

bool digits(const std::string& text, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

Mode mode_of(std::string_view mode_text) { return mode_text == "test" ? Mode::kTest : Mode::kProduction; }

std::string_view season_prefix(Mode mode) { return mode == Mode::kTest ? "T_" : "S_"; }

fs::path database_path(const fs::path& work_dir, Mode mode) {
  return work_dir / "db" / (mode == Mode::kTest ? "vrd_test.duckdb" : "vrd.duckdb");
}

fs::path notebook_version_file(const fs::path& work_dir) { return work_dir / "db" / ".nb_version"; }
fs::path cache_dir(const fs::path& work_dir) { return work_dir / "db" / "cache"; }
fs::path model_dir(const fs::path& work_dir) { return work_dir / "ml_models"; }
fs::path output_dir(const fs::path& work_dir) { return work_dir / "outputs" / "json"; }
fs::path seasons_dir(const fs::path& work_dir) { return work_dir / "seasons"; }

std::string season_name(const std::string& ts, const std::string& mode, std::string_view version) {
  return std::string(season_prefix(mode_of(mode))) + ts + "_" + mode + "_" + std::string(version);
}

std::optional<SeasonName> parse_season_name(const std::string& name) {
  // P_YYYYMMDD_HHMMSS_MODE_VERSION; the mode may itself hold "_", the version does not.
  if (name.size() < 21 || (name[0] != 'S' && name[0] != 'T') || name[1] != '_' || !digits(name, 2, 8) ||
      name[10] != '_' || !digits(name, 11, 6) || name[17] != '_') {
    return std::nullopt;
  }
  const std::size_t last = name.rfind('_');
  if (last <= 18 || last + 1 == name.size()) return std::nullopt;
  return SeasonName{name.substr(2, 15), name.substr(18, last - 18)};
}

fs::path meta_dir(const fs::path& season_dir) { return season_dir / "meta"; }
fs::path log_dir(const fs::path& season_dir) { return season_dir / "logs"; }

std::string meta_file_name(std::string_view kod) {
  return std::string(kMetaPrefix) + std::string(kod) + std::string(kJson);
}

std::optional<std::string> step_of_meta_file(std::string_view file_name) {
  if (!file_name.starts_with(kMetaPrefix) || !file_name.ends_with(kJson)) return std::nullopt;
  return std::string(file_name.substr(kMetaPrefix.size(), file_name.size() - kMetaPrefix.size() - kJson.size()));
}

std::string manifest_file_name(const std::string& ts) {
  return std::string(kManifestPrefix) + ts + std::string(kJson);
}

bool is_manifest_file(std::string_view file_name) {
  return file_name.starts_with(kManifestPrefix) && file_name.ends_with(kJson);
}

fs::path executed_notebook(const fs::path& log_dir, std::string_view kod, const std::string& nb_name) {
  return log_dir / (std::string(kMetaPrefix) + std::string(kod) + "_" + nb_name);
}

fs::path step_report_path(const fs::path& log_dir, std::string_view kod) {
  return log_dir / (std::string(kMetaPrefix) + std::string(kod) + "_rapor.json");
}

}  // namespace vordak::motor
