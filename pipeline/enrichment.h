#pragma once

// Copies the trending verdicts onto the scoreboard rows: six 0/1 flag members and one
// combined reason text per row.

#include <array>
#include <string_view>
#include <utility>

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// Trending list key and the row member that carries its flag, in flag order.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 6> TRENDING_FLAGS = {{
    {"fastest_rising", "_hizli_yukselen"},
    {"regime_change", "_rejim_degisimi"},
    {"persistent_high", "_potansiyel_yi"},
    {"low_but_rising", "_erken_sinyal"},
    {"caught_yi", "_yakalanan"},
    {"missed_yi", "_kacirilan"},
}};

// Sets the six flag members (integers 1 or 0) and "_vrd_neden" (the firm's reasons in
// flag order, joined with " | ") on every row, overwriting earlier values in place.
// Firms are matched by the text form of "muta", so the number 1234 and the text "1234"
// are one firm. Prints "    trending flags: N entities enriched" on `sink`. Throws
// std::invalid_argument when `trending` is not a mapping.
void enrich_with_trending(Scoreboard& scoreboard, const ordered_json& trending, Sink& sink);

}  // namespace vordak::pipeline
