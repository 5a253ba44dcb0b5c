#include "motor/paths.h"

#include <dlfcn.h>

#include <stdexcept>

namespace vordak::paths {

std::filesystem::path library_dir() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&library_dir), &info) == 0 || info.dli_fname == nullptr) {
    throw std::runtime_error("motor kütüphanesinin yeri bulunamadı");
  }
  return std::filesystem::weakly_canonical(info.dli_fname).parent_path();
}

std::filesystem::path get_notebooks_dir() {
  const std::filesystem::path installed = library_dir().parent_path() / "share" / "vordak" / "notebooks";
  if (std::filesystem::is_directory(installed)) return installed;
  const std::filesystem::path source_tree = std::filesystem::path(VORDAK_SOURCE_DIR) / "notebooks";
  if (std::filesystem::is_directory(source_tree)) return source_tree;
  throw std::runtime_error("notebook dizini bulunamadı: " + installed.string());
}

std::filesystem::path python_package_dir() {
  const std::filesystem::path installed =
      library_dir().parent_path() / "share" / "vordak" / "python" / "vordak";
  if (std::filesystem::is_directory(installed)) return installed;
  const std::filesystem::path source_tree = std::filesystem::path(VORDAK_SOURCE_DIR) / "python" / "vordak";
  if (std::filesystem::is_directory(source_tree)) return source_tree;
  throw std::runtime_error("python paket dizini bulunamadı: " + installed.string());
}

}  // namespace vordak::paths
