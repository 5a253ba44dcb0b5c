#pragma once

// The six watch lists drawn from a finished scoreboard: fastest rising, regime change,
// persistently high, low but rising, and the firms that newly entered the "YI" state,
// split into those the score warned about in time (caught) and those it missed. Every
// entry carries a Turkish reason text shown verbatim on the dashboards.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

inline constexpr std::size_t TRENDING_LIMIT = 500;

// The list keys of the trending document, in document order.
inline constexpr std::array<std::string_view, 6> TRENDING_KEYS = {
    "fastest_rising", "regime_change", "persistent_high", "low_but_rising", "caught_yi", "missed_yi"};

// One firm on a watch list: its row of the scoreboard, its last score (1000 for "YI"),
// the change over three periods where the list shows it, and the reason text.
struct WatchEntry {
  std::size_t row = 0;
  double score_last = 0;
  std::optional<double> delta_3;
  std::string reason;
};

// The six lists in TRENDING_KEYS order, each whole and in its order.
using WatchLists = std::array<std::vector<WatchEntry>, TRENDING_KEYS.size()>;

// The six lists of the scoreboard as of its last period, without a length limit. Works
// on the scoreboard in memory and never changes it; six empty lists when there are
// fewer than two periods or no rows. Throws std::runtime_error when the rows have no
// "muta" member, or no "son_risk" while a list has entries to order.
WatchLists build_watch_lists(const Scoreboard& scoreboard);

class WatchRules;  // watch_rules.h
// The same from the rules of `scoreboard` read beforehand (which the call moves to the
// last period).
WatchLists build_watch_lists(const Scoreboard& scoreboard, WatchRules& rules);

// The trending document: the six keys above, each holding the first TRENDING_LIMIT
// entries of its list as records. Throws like build_watch_lists.
ordered_json trending_document(const Scoreboard& scoreboard, const WatchLists& lists);

// The trending document of build_watch_lists' lists.
ordered_json build_trending_lists(const Scoreboard& scoreboard);

// Which lists each row would have been on as of every period: for row r and period
// index p, entry r * periods + p holds bit i set when the row is on list i of
// TRENDING_KEYS. Period 0 has no lists (they compare with a period before). As of the
// last period the bits are the lists of build_watch_lists. Empty without rows or
// periods. Throws like build_watch_lists.
std::vector<std::uint8_t> watch_list_history(const Scoreboard& scoreboard);
// The same from the rules read beforehand; needs nothing else of the scoreboard, so that
// it may run beside work that adds members to the rows.
std::vector<std::uint8_t> watch_list_history(WatchRules& rules);

}  // namespace vordak::pipeline
