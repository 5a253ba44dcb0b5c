#pragma once

// The six watch lists drawn from a finished scoreboard: fastest rising, regime change,
// persistently high, low but rising, and the firms that newly entered the "YI" state,
// split into those the score warned about in time (caught) and those it missed. Every
// entry carries a Turkish reason text shown verbatim on the dashboards.

#include <array>
#include <cstddef>
#include <string_view>

#include "core/json_writer.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

inline constexpr std::size_t TRENDING_LIMIT = 500;

// The list keys of the trending document, in document order.
inline constexpr std::array<std::string_view, 6> TRENDING_KEYS = {
    "fastest_rising", "regime_change", "persistent_high", "low_but_rising", "caught_yi", "missed_yi"};

// Builds the trending document: the six keys above, each a list of at most
// TRENDING_LIMIT entries. Works on the scoreboard in memory and never changes it. Six
// empty lists when there are fewer than two periods or no rows. Throws
// std::runtime_error when the rows have no "muta" member (or no "son_risk" once an
// entry is built).
ordered_json build_trending_lists(const Scoreboard& scoreboard);

}  // namespace vordak::pipeline
