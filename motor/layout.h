#pragma once

// The working directory's layout: every name the engine gives a directory or file under
// it, composed here and read back here.
//
//   db/vrd.duckdb, db/vrd_test.duckdb      the database of a mode (test has its own)
//   db/.nb_version                         the version of the installed notebooks
//   db/cache/                              the machine-learning steps' cache
//   ml_models/                             the trained models
//   outputs/json/                          the published outputs
//   seasons/P_YYYYMMDD_HHMMSS_MODE_VERSION one run; P is "T" in mode test, "S" otherwise
//     meta/adim_KOD.json                   a step's record
//     meta/manifest_YYYYMMDD_HHMMSS.json   the run's manifest
//     logs/adim_KOD_NOTEBOOK               a step's executed notebook
//     logs/adim_KOD_rapor.json             what a step's notebook reported

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

namespace fs = std::filesystem;

// The mode a run is given when none is asked for.
inline constexpr const char* kDefaultMode = "prod";

// What a mode's text decides: mode test has its own database and its own seasons' prefix;
// every other mode (prod, dev, ...) shares the production ones.
enum class Mode { kProduction, kTest };
Mode mode_of(std::string_view mode_text);

// "S_" or "T_": the prefix of the seasons a mode's change detection searches.
std::string_view season_prefix(Mode mode);

fs::path database_path(const fs::path& work_dir, Mode mode);
fs::path notebook_version_file(const fs::path& work_dir);
fs::path cache_dir(const fs::path& work_dir);
fs::path model_dir(const fs::path& work_dir);
fs::path output_dir(const fs::path& work_dir);
fs::path seasons_dir(const fs::path& work_dir);

// The parts of a season directory's name.
struct SeasonName {
  std::string ts, mode;  // the time stamp YYYYMMDD_HHMMSS, the mode's text
};
// "P_TS_MODE_VERSION".
std::string season_name(const std::string& ts, const std::string& mode, std::string_view version);
// The parts of a season's name; absent for any other name (a copy kept as "S_backup").
std::optional<SeasonName> parse_season_name(const std::string& name);

fs::path meta_dir(const fs::path& season_dir);
fs::path log_dir(const fs::path& season_dir);

// "adim_KOD.json", the step's record in the meta directory, and back: the step key of
// such a file name, absent for any other name.
std::string meta_file_name(std::string_view kod);
std::optional<std::string> step_of_meta_file(std::string_view file_name);
// "manifest_TS.json", and whether a file name is a manifest's.
std::string manifest_file_name(const std::string& ts);
bool is_manifest_file(std::string_view file_name);

// In the log directory: the step's executed notebook, and its notebook's report.
fs::path executed_notebook(const fs::path& log_dir, std::string_view kod, const std::string& nb_name);
fs::path step_report_path(const fs::path& log_dir, std::string_view kod);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
