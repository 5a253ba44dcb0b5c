#pragma once

// The administrator edition's own lists, the prediction list ("ml_predictions") and the
// backtest firm lists ("backtest_firma" per model and outcome), fitted into the room the
// page has for them. A large portfolio can hold far more entries than a page can carry.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/table.h"

namespace vordak::pipeline {

// Shortens the lists in `extra` (the edition's extra data) when they would take more
// than half of the page's room for lists and firm rows: `cap` is the page's limit and
// `page_size(emptied)` the page's size without firm rows when its extra data is
// `emptied`, `extra` with each of these lists empty (they are put back after). The prediction list
// keeps its most probable entries, each backtest firm list the firms with the highest
// current risk ("son_risk" of their row in `rows`; 0 for a firm without one); what is
// kept stays in its order. The room is shared evenly, and a list that needs less than
// its share gives the rest to the others, so a short list is cut only when every list
// is. An entry's size is its compact JSON text as the page embeds it, with a comma.
// Returns how many entries each shortened list left out, in the lists' own shape:
// {"ml_predictions": n, "backtest_firma": {"eus": {"tp": n, ...}, ...}}; an empty
// mapping when every list fits.
ordered_json fit_admin_lists(ordered_json& extra, const Table& rows, std::size_t cap,
                             const std::function<std::size_t(const ordered_json&)>& page_size);

// The page's sentences about the entries `fit_admin_lists` left out (empty when none),
// e.g. "Boyut sınırı nedeniyle ML tahmin listesinde en düşük olasılıklı 12.000 firma
// gösterilmiyor (gösterilen: 80.000)."
std::vector<std::string> left_out_notes(const ordered_json& left_out, const ordered_json& extra);

}  // namespace vordak::pipeline
