#pragma once

// The firm data of one dashboard edition, kept in a folder beside its page rather than
// in the page itself: the page stays small however large the portfolio, and loads what a
// reader asks for. Every file is a data script (see data_script.h):
//   f-N   the table part of the firm records of places [N * per_file, (N + 1) * per_file):
//         what the firm tables and lists show (see firm_records.h);
//   g-N   the panel part of the same firms' records: the rest of what the firm panel
//         shows, their whole history included;
//   c-X   column X of every firm in page order, a typed array for sorting and filtering;
//   l-I   the places of the firms on watch list I, in the list's order;
//   k-I   the counts and charts of scope I (a region, a branch, or a branch's part in
//         one region);
//   a-N   a part of the search index (see search_index.h).
// The page itself carries what it shows first: the counts and charts of all its firms,
// and where to find the rest.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/json_writer.h"
#include "pipeline/firm_facts.h"
#include "pipeline/html_render.h"
#include "pipeline/page_context.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// Where an edition's files go.
struct DataFolder {
  std::string href;  // the folder as the page names it, relative to the page
  std::size_t firms_per_file = 256;
  std::size_t search_places_per_file = 16384;
  // Writes one file of the folder by name; called from two threads at once.
  std::function<void(const std::string& name, std::string_view bytes)> write;
};

// What a page needs of its edition's data.
struct EditionData {
  bool filtered = false;  // made by a row filter (a manager's edition)
  EditionRows selection;
  ordered_json files;  // the page's "veri": where and how its files are
  ordered_json scope;  // the page's "kapsam": counts and charts of all its firms
};

// Writes the files of the edition of the rows passing `row_filter` (all when empty)
// through `folder` and returns what its pages embed. `facts` are the scoreboard's (see
// firm_facts); `context` gives the firm records their model drivers. Throws what
// folder.write throws.
EditionData write_edition_data(const Scoreboard& scoreboard, const RowFilter& row_filter, const FirmFacts& facts,
                               const PageContext& context, const DataFolder& folder);

}  // namespace vordak::pipeline
