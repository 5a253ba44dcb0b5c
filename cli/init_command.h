#pragma once

// Installing the packaged notebooks into a working directory, shared by `vordak init`
// and `vordak demo`.

#include <filesystem>
#include <string>
#include <vector>

namespace vordak::cli {

struct InstalledNotebooks {
  std::vector<std::string> copied;      // file names now equal to the packaged ones
  std::vector<std::string> left_alone;  // differing copies kept, without `force`
};

// Copies the registry's notebooks and the header notebook from the package's notebook
// directory into `work_dir`. A copy in `work_dir` that differs from the packaged one (a
// local edit, or an older version) is replaced only with `force`; otherwise it is left
// alone and named in the result. db/.nb_version gets the package version only when
// every notebook then equals the packaged one, so that the engine keeps warning about a
// mixed set. Throws std::runtime_error naming the notebook when one is missing from the
// package.
InstalledNotebooks install_notebooks(const std::filesystem::path& work_dir, bool force);

}  // namespace vordak::cli
