#pragma once

// Installing the packaged notebooks into a working directory, shared by `vordak init`
// and `vordak demo`.

#include <filesystem>
#include <string>
#include <vector>

namespace vordak::cli {

// Copies the registry's notebooks and the header notebook from the package's notebook
// directory into `work_dir` (replacing older copies) and writes db/.nb_version with the
// package version. Returns the file names copied. Throws std::runtime_error naming the
// notebook when one is missing from the package.
std::vector<std::string> install_notebooks(const std::filesystem::path& work_dir);

}  // namespace vordak::cli
