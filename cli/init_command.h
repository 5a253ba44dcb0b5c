#pragma once

// Installing the packaged notebooks into a working directory, shared by `vordak init`
// and `vordak demo`.

#include <filesystem>
#include <string>
#include <vector>

#include "motor/installed_notebooks.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::cli {

// Which notebooks that differ from the package's are replaced.
enum class InstallMode {
  kKeepDiffering,  // none: each is left alone and listed
  kUpgrade,        // those still as an older package installed them
  kForce,          // all, local edits included
};

struct InstalledNotebooks {
  std::vector<std::string> copied;                   // file names now equal to the packaged ones
  std::vector<motor::InstalledNotebook> left_alone;  // differing copies kept, with how they differ
};

// Copies the registry's notebooks and the header notebook from the package's notebook
// directory into `work_dir`, as `mode` allows, and records what it installed
// (motor::kInstallRecord). db/.nb_version gets the package version only when every
// notebook then equals the packaged one, so that the engine keeps warning about a mixed
// set. Throws IoError naming the notebook when one is missing from the
// package.
InstalledNotebooks install_notebooks(const std::filesystem::path& work_dir, InstallMode mode);

}  // namespace vordak::cli

VORDAK_PUBLIC_END
