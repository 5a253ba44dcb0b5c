#pragma once

// What the dashboard pages show of every firm beyond its scoreboard row, worked out once
// per run and shared by every edition: the watch lists in full, the lists each firm was
// on in every period, the models' score histories, and the orders in which the pages
// sort firms by title and by key.

#include <array>
#include <cstdint>
#include <vector>

#include "pipeline/model_histories.h"
#include "pipeline/scoreboard.h"
#include "pipeline/trending.h"

namespace vordak::pipeline {

inline constexpr std::uint32_t kNotListed = UINT32_MAX;

struct FirmFacts {
  WatchLists lists;
  // Per list (TRENDING_KEYS order): each row's place on it, or kNotListed.
  std::array<std::vector<std::uint32_t>, TRENDING_KEYS.size()> place;
  std::vector<std::uint8_t> current;  // per row: bit i set when on list i now
  std::vector<std::uint8_t> history;  // watch_list_history
  std::vector<ModelHistory> models;
  std::vector<std::uint32_t> title_rank;  // per row: its title's place in alphabetical order
  std::vector<std::uint32_t> key_rank;    // per row: its firm key's place, numbers first
};

// The facts of `scoreboard`'s rows, keeping `lists` (its build_watch_lists) and
// `models`. Throws like watch_list_history.
FirmFacts firm_facts(const Scoreboard& scoreboard, WatchLists lists, std::vector<ModelHistory> models);

// A key that orders texts as a Turkish reader expects: letters case-blind in the
// Turkish alphabet (ç after c, ğ after g, ı before i, ö after o, ş after s, ü after u),
// digits before letters, other characters by their code.
std::string alphabetical_key(std::string_view text);

}  // namespace vordak::pipeline
