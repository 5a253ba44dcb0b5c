#pragma once

// Operations on a finished scoreboard that never touch the database: band-to-band flow
// counts between consecutive recent periods, band counts per period, and removal of
// periods outside a reference list. Segments are "ALL" (every row), then "KUR-TIC",
// "KOBI", "MIKRO", "ESKK" (rows whose "segment" equals that text).

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

inline constexpr std::array<std::string_view, 5> FLOW_SEGMENTS = {"ALL", "KUR-TIC", "KOBI", "MIKRO", "ESKK"};

// For every consecutive pair of the last `max_periods` periods, per segment, the firms
// moving from band to band with their summed absolute risk in the later period (null
// when the sum does not fit 64 bits). {"ALL": []} when there are fewer than two periods
// or no rows. Throws std::runtime_error when the rows have no "segment" member.
ordered_json build_flow_matrix(const Scoreboard& scoreboard, long long max_periods = 6);

// For every period, per segment, the firms in each band with their summed absolute risk
// (null when it does not fit 64 bits). {"ALL": []} when there are no periods or no rows.
// Throws like build_flow_matrix.
ordered_json build_band_snapshot(const Scoreboard& scoreboard);

// The labels of the periods whose absolute risks, over all rows, add up to more than 64
// bits hold: only there can a sum of the marts be too large.
std::vector<std::string> periods_with_too_large_risk(const Scoreboard& scoreboard);

// The same two documents for groups of rows at once. Each grouping of `groupings` puts
// every row in one group (below `groups`) or in none (kNoGroup); a row may so be in one
// group of each grouping. Entry g is what the functions above give for a scoreboard
// holding only the rows of group g.
// `bands` are the rows' band codes of every period of "donemler" (period_bands), made
// once for many calls.
inline constexpr std::uint32_t kNoGroup = UINT32_MAX;
using Groupings = std::vector<std::vector<std::uint32_t>>;
using PeriodBands = std::vector<std::vector<std::int8_t>>;
std::vector<ordered_json> flow_matrices_by_group(const Scoreboard& scoreboard, const Groupings& groupings,
                                                 std::size_t groups, const PeriodBands& bands, long long max_periods = 6);
std::vector<ordered_json> band_snapshots_by_group(const Scoreboard& scoreboard, const Groupings& groupings,
                                                  std::size_t groups, const PeriodBands& bands);

// Each row's band code (see band_codes) in every period of "donemler", in that order;
// an empty list for a period the rows have no score member of.
PeriodBands period_bands(const Scoreboard& scoreboard);

}  // namespace vordak::pipeline
