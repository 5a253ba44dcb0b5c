#include "pipeline/page_data_folder.h"

#include <exception>

#include "core/clock.h"

namespace vordak::pipeline {

std::string data_folder_name(const std::filesystem::path& html_path) { return html_path.stem().string() + "_veri"; }

PageDataFolder::PageDataFolder(Env& env, const std::filesystem::path& html_path, TimePoint made)
    : env_(env), root_(html_path.parent_path() / data_folder_name(html_path)) {
  env_.create_directory(root_, FileAccess::kPrivate);
  const std::string base = local_time_text(made, "%Y%m%d-%H%M%S");
  std::string name = base;
  for (int n = 2; env_.exists(root_ / name); ++n) name = base + "-" + std::to_string(n);
  generation_ = root_ / name;
  env_.create_directory(generation_, FileAccess::kPrivate);
  href_ = data_folder_name(html_path) + "/" + name;
}

PageDataFolder::~PageDataFolder() {
  if (kept_) return;
  try {
    env_.remove_tree(generation_);
    if (env_.list_directory(root_).empty()) env_.remove_tree(root_);
  } catch (const std::exception&) {
    // Left for the next run's keep(): a destructor must not throw.
  }
}

DataFolder PageDataFolder::folder(std::size_t firms_per_file) const {
  DataFolder folder;
  folder.href = href_;
  folder.firms_per_file = firms_per_file;
  folder.write = [this](const std::string& name, std::string_view bytes) {
    env_.write_new_file(generation_ / name, bytes, FileAccess::kPrivate);
  };
  return folder;
}

void PageDataFolder::sync() { env_.sync_file_system(generation_); }

void PageDataFolder::keep() {
  kept_ = true;
  for (const DirEntry& entry : env_.list_directory(root_)) {
    if (entry.path.filename() != generation_.filename()) env_.remove_tree(entry.path);
  }
}

}  // namespace vordak::pipeline
