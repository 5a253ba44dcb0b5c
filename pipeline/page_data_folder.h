#pragma once

// The folder of data files beside a dashboard page: "<page name>_veri/<generation>/",
// the page naming its generation. A run writes a new generation, so that a page on disk
// and the files it names always belong together: the page in place keeps its
// generation until the new page replaces it, and the older generations go only then.
// Files and folders are readable by their owner and group only (customer data).

#include <filesystem>
#include <string>

#include "core/env.h"
#include "pipeline/edition_data.h"

namespace vordak::pipeline {

class PageDataFolder {
 public:
  // A new generation for the page at `html_path`, named by the time `made` (and a
  // number when that name is taken). Throws naming the folder when it cannot be made.
  PageDataFolder(Env& env, const std::filesystem::path& html_path, TimePoint made);
  // Removes the generation unless keep() was called.
  ~PageDataFolder();
  PageDataFolder(const PageDataFolder&) = delete;
  PageDataFolder& operator=(const PageDataFolder&) = delete;

  // Where write_edition_data writes; `firms_per_file` as DataFolder's.
  DataFolder folder(std::size_t firms_per_file = DataFolder{}.firms_per_file) const;
  const std::filesystem::path& path() const { return generation_; }

  // Returns once every file written so far is on the disk: before the page is published.
  void sync();
  // Once the page naming this generation is in place: keeps it and removes the page's
  // other generations. Throws naming a folder that cannot be removed.
  void keep();

 private:
  Env& env_;
  std::filesystem::path root_;        // <page name>_veri
  std::filesystem::path generation_;  // root_ / name
  std::string href_;
  bool kept_ = false;
};

// The folder name of a page's data: "vrd_dashboard.html" gives "vrd_dashboard_veri".
std::string data_folder_name(const std::filesystem::path& html_path);

}  // namespace vordak::pipeline
