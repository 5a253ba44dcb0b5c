#pragma once

// The manager editions' row filter: corporate-commercial firms always, the 10,000
// largest KOBI firms by current risk, and any other firm above 50,000,000 of risk.

#include <cstddef>
#include <cstdint>

#include "pipeline/html_render.h"
#include "pipeline/muta_keys.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

inline constexpr std::size_t KOBI_TOP_COUNT = 10000;
inline constexpr std::int64_t MANAGER_RISK_THRESHOLD = 50000000;

// The "muta" keys of the first KOBI_TOP_COUNT rows of segment "KOBI" ordered by
// "son_risk" descending (missing or null as 0; equal risks keep their row order).
MutaSet kobi_top(const Scoreboard& scoreboard);

// The filter over the scoreboard's rows given the KOBI selection: "KUR-TIC" passes;
// "KOBI" passes when in `kobi_top`; otherwise the row passes when its "son_risk"
// (0 when missing or null) is above MANAGER_RISK_THRESHOLD.
RowFilter yonetici_filter(MutaSet kobi_top);

}  // namespace vordak::pipeline
