#pragma once

// What the dashboard pages show of every firm beyond its scoreboard row, worked out once
// per run and shared by every edition: the watch lists in full, the lists each firm was
// on in every period, the models' score histories, the orders in which the pages sort
// firms by title and by key, each firm's segment, region and branch as numbers, its
// band in every period, and the words a search finds it by.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/flows.h"
#include "pipeline/model_histories.h"
#include "pipeline/scoreboard.h"
#include "pipeline/trending.h"

namespace vordak::pipeline {

inline constexpr std::uint32_t kNotListed = UINT32_MAX;

// The distinct texts of a member (sorted) and each row's as a number: 1 + its place
// among them, 0 where the row has none.
struct CodeIndex {
  std::vector<std::string> codes;
  std::vector<std::uint32_t> of_row;
};

struct FirmFacts {
  WatchLists lists;
  // Per list (TRENDING_KEYS order): each row's place on it, or kNotListed.
  std::array<std::vector<std::uint32_t>, TRENDING_KEYS.size()> place;
  std::vector<std::uint8_t> current;  // per row: bit i set when on list i now
  std::vector<std::uint8_t> history;  // watch_list_history
  std::vector<ModelHistory> models;
  std::vector<std::uint32_t> title_rank;  // per row: its title's place in alphabetical order
  std::vector<std::uint32_t> key_rank;    // per row: its firm key's place, numbers first
  CodeIndex segments, regions, branches;  // "segment", "bolge_kodu", "sube_kodu"
  PeriodBands bands;                      // period_bands
  // The search words (search_words) of each row's title and key, as numbers into
  // `words` (sorted by their bytes): row r's are word_ids[word_start[r], word_start[r + 1]).
  std::vector<std::string> words;
  std::vector<std::uint32_t> word_start;
  std::vector<std::uint32_t> word_ids;
};

// The facts of `scoreboard`'s rows, keeping `lists` (its build_watch_lists), `history`
// (its watch_list_history) and `models`. The rest is made on two threads.
FirmFacts firm_facts(const Scoreboard& scoreboard, WatchLists lists, std::vector<std::uint8_t> history,
                     std::vector<ModelHistory> models);

// A key that orders texts as a Turkish reader expects: letters case-blind in the
// Turkish alphabet (ç after c, ğ after g, ı before i, ö after o, ş after s, ü after u),
// digits before letters, other characters by their code.
std::string alphabetical_key(std::string_view text);

// The text of a cell as codes and keys are compared: "" for null.
std::string cell_code(const Column* column, std::size_t row);

}  // namespace vordak::pipeline
