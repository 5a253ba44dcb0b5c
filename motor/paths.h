#pragma once

#include <filesystem>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::paths {

// The directory of the notebooks installed with the package: <prefix>/share/vordak/notebooks
// for the library in <prefix>/lib/vordak, or the source tree's notebooks/ when the library
// runs from a build folder. Throws std::runtime_error when neither exists.
std::filesystem::path get_notebooks_dir();

// The directory of the package's Python files (the notebook runner among them):
// <prefix>/lib/python3/dist-packages/vordak, where Debian's python3 finds it for a
// prefix of /usr, or the source tree's python/vordak when the library runs from a build
// folder. Throws std::runtime_error when neither exists.
std::filesystem::path python_package_dir();

// The directory holding the running engine library.
std::filesystem::path library_dir();

}  // namespace vordak::paths

VORDAK_PUBLIC_END
