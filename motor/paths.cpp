#include "motor/paths.h"

#include <dlfcn.h>

#include <stdexcept>

#include "core/io_error.h"

namespace vordak::paths {

namespace {

namespace fs = std::filesystem;

// The installation prefix when the library runs from an installed layout: its own
// directory less the components of the library directory (lib/vordak).
fs::path installed_prefix() {
  fs::path prefix = library_dir();
  for (const fs::path& part : fs::path(VORDAK_INSTALL_LIBDIR)) {
    if (!part.empty()) prefix = prefix.parent_path();
  }
  return prefix;
}

// The installed directory when it exists, else the source tree's (a build-tree binary).
fs::path package_dir(const fs::path& installed, const fs::path& in_source_tree, const char* what) {
  if (fs::is_directory(installed)) return installed;
  const fs::path source = fs::path(VORDAK_SOURCE_DIR) / in_source_tree;
  if (fs::is_directory(source)) return source;
  throw IoError::missing(std::string(what) + " bulunamadı: " + installed.string(), installed);
}

}  // namespace

fs::path library_dir() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&library_dir), &info) == 0 || info.dli_fname == nullptr) {
    throw std::runtime_error("motor kütüphanesinin yeri bulunamadı");
  }
  return fs::weakly_canonical(info.dli_fname).parent_path();
}

fs::path get_notebooks_dir() {
  return package_dir(installed_prefix() / VORDAK_INSTALL_DATADIR / "vordak" / "notebooks", "notebooks", "notebook dizini");
}

fs::path python_package_dir() {
  return package_dir(installed_prefix() / VORDAK_INSTALL_PYTHONDIR / "vordak", fs::path("python") / "vordak",
                     "python paket dizini");
}

}  // namespace vordak::paths
