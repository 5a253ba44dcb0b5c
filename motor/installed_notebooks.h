#pragma once

// The notebooks a working directory runs, as `vordak init` installed them. Init keeps a
// record of each notebook it installs, db/.nb_kurulum.json: the package version and the
// notebook's content fingerprint. With it an upgrade tells a notebook still as installed
// (replaced by the newer package's) from one edited since (left alone), and a check
// names every notebook that is missing, older than the package or edited.

#include <filesystem>
#include <map>
#include <string>
#include <vector>
#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

namespace fs = std::filesystem;

inline constexpr const char* kInstallRecord = "db/.nb_kurulum.json";

// How a notebook in the working directory stands against the package's.
enum class NotebookState {
  kCurrent,     // the package's own
  kMissing,     // not in the working directory
  kOld,         // as an older package installed it
  kEdited,      // changed since it was installed
  kUnrecorded,  // differs from the package's, and no record says how it was installed
};

struct InstalledNotebook {
  std::string name;
  NotebookState state;
  std::string installed_version;  // kOld: the version that installed it
};

// One installed notebook's line in the record.
struct InstallEntry {
  std::string hash;
  std::string versiyon;
};
using InstallRecord = std::map<std::string, InstallEntry>;  // by file name

// The file names of every registry notebook and the header notebook.
std::vector<std::string> package_notebook_names();

// The record; empty when there is none (a directory set up by an older version) or it
// cannot be parsed. Throws IoError or FileRefused naming the file when it cannot be read.
InstallRecord read_install_record(const fs::path& work_dir, Env& env);
// Replaces the record atomically. Throws IoError naming the file.
void write_install_record(const fs::path& work_dir, const InstallRecord& record, Env& env);

// The content fingerprint the record keeps of a notebook file. Throws IoError naming the
// file.
std::string notebook_file_hash(const fs::path& file, Env& env);

// Every notebook of package_notebook_names() in `work_dir`, against the package's copies
// in `package_dir` and the record.
std::vector<InstalledNotebook> installed_notebooks(const fs::path& work_dir, const fs::path& package_dir, Env& env);

// True when `dir` holds what marks a working directory: the install record or
// db/.nb_version, a data-source path file, a seasons/ directory or one of the notebooks.
bool is_work_dir(const fs::path& dir, Env& env);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
