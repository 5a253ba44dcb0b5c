#pragma once

// One manager edition per region, each holding only the manager edition's firms of that
// region, so that a regional manager can be given exactly their part; and an index page
// that links them.

#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/html_render.h"
#include "pipeline/page_context.h"

namespace vordak::pipeline {

// One region's edition as the index page lists it.
struct RegionEdition {
  std::string code;
  std::string name;  // empty when the reference has none
  std::filesystem::path page;
  std::size_t firms = 0;
  double total_risk = 0;
};

// The page of region `code`'s edition in `html_dir`: "vrd_dashboard_bolge_" + code +
// suffix + ".html", characters other than ASCII letters, digits, "-" and "_" of the
// code written as "~XX" (their bytes in hexadecimal).
std::filesystem::path region_page(const std::filesystem::path& html_dir, const std::string& code,
                                  const std::string& file_suffix);

// The index page of the region editions: "vrd_dashboard_bolgeler" + suffix + ".html".
std::filesystem::path region_index_page(const std::filesystem::path& html_dir, const std::string& file_suffix);

// The rows of `manager` whose "bolge_kodu" has the text form `code`.
RowFilter region_filter(RowFilter manager, std::string code);

// The index page: a table of the regions in alphabetical order with their firm counts,
// risks and links (each link relative to the index, which sits beside the pages).
std::string render_region_index(const std::vector<RegionEdition>& regions, const PageContext& context);

}  // namespace vordak::pipeline
