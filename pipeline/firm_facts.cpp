#include "pipeline/firm_facts.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "core/text.h"
#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

// The Turkish alphabet, each letter as its lower and upper case.
constexpr std::array<std::pair<char32_t, char32_t>, 29> kAlphabet = {{
    {U'a', U'A'}, {U'b', U'B'}, {U'c', U'C'}, {U'ç', U'Ç'}, {U'd', U'D'}, {U'e', U'E'}, {U'f', U'F'}, {U'g', U'G'},
    {U'ğ', U'Ğ'}, {U'h', U'H'}, {U'ı', U'I'}, {U'i', U'İ'}, {U'j', U'J'}, {U'k', U'K'}, {U'l', U'L'}, {U'm', U'M'},
    {U'n', U'N'}, {U'o', U'O'}, {U'ö', U'Ö'}, {U'p', U'P'}, {U'q', U'Q'}, {U'r', U'R'}, {U's', U'S'}, {U'ş', U'Ş'},
    {U't', U'T'}, {U'u', U'U'}, {U'ü', U'Ü'}, {U'v', U'V'}, {U'w', U'W'},
}};
constexpr std::array<std::pair<char32_t, char32_t>, 3> kAlphabetEnd = {{{U'x', U'X'}, {U'y', U'Y'}, {U'z', U'Z'}}};

// The place of a letter in the alphabet (the circumflexed vowels with their plain ones),
// or -1.
int letter_place(char32_t c) {
  if (c == U'â' || c == U'Â') c = U'a';
  if (c == U'î' || c == U'Î') c = U'i';
  if (c == U'û' || c == U'Û') c = U'u';
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    if (c == kAlphabet[i].first || c == kAlphabet[i].second) return static_cast<int>(i);
  }
  for (std::size_t i = 0; i < kAlphabetEnd.size(); ++i) {
    if (c == kAlphabetEnd[i].first || c == kAlphabetEnd[i].second) return static_cast<int>(kAlphabet.size() + i);
  }
  return -1;
}

std::vector<std::uint32_t> ranks_of(const std::vector<std::size_t>& order) {
  std::vector<std::uint32_t> rank(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<std::uint32_t>(i);
  return rank;
}

std::vector<std::uint32_t> title_ranks(const Table& rows) {
  const Column* unvan = rows.find("unvan");
  std::vector<std::string> keys(rows.num_rows());
  if (unvan != nullptr) {
    for (std::size_t r = 0; r < keys.size(); ++r) {
      if (!unvan->is_null(r)) keys[r] = alphabetical_key(unvan->kind() == ColumnKind::kText ? unvan->text(r) : cell_text_form(*unvan, r));
    }
  }
  std::vector<std::size_t> order(keys.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Firms without a title last.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (keys[a].empty() != keys[b].empty()) return keys[b].empty();
    return keys[a] < keys[b];
  });
  return ranks_of(order);
}

std::vector<std::uint32_t> key_ranks(const Table& rows) {
  const Column* muta = rows.find("muta");
  std::vector<std::size_t> order(rows.num_rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (muta == nullptr) return ranks_of(order);
  std::vector<std::optional<double>> numbers(order.size());
  std::vector<std::string> texts(order.size());
  for (std::size_t r = 0; r < order.size(); ++r) {
    numbers[r] = muta->number(r);
    if (!numbers[r] && !muta->is_null(r)) texts[r] = cell_text_form(*muta, r);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (numbers[a].has_value() != numbers[b].has_value()) return numbers[a].has_value();
    if (numbers[a]) return *numbers[a] < *numbers[b];
    return texts[a] < texts[b];
  });
  return ranks_of(order);
}

}  // namespace

std::string alphabetical_key(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (const char32_t c : decode_utf8(text)) {
    const int place = letter_place(c);
    // Letters from 'A' on (after space, digits and most punctuation), the rest of ASCII
    // after them, other characters last.
    if (place >= 0) key += static_cast<char>('A' + place);
    else if (c < 0x80) key += static_cast<char>(c < 'A' ? c : '{');
    else key += encode_utf8(std::u32string(1, c));
  }
  return key;
}

FirmFacts firm_facts(const Scoreboard& scoreboard, WatchLists lists, std::vector<ModelHistory> models) {
  FirmFacts facts;
  const std::size_t rows = scoreboard.rows.num_rows();
  facts.current.assign(rows, 0);
  for (std::size_t l = 0; l < lists.size(); ++l) {
    facts.place[l].assign(rows, kNotListed);
    for (std::size_t k = 0; k < lists[l].size(); ++k) {
      facts.place[l][lists[l][k].row] = static_cast<std::uint32_t>(k);
      facts.current[lists[l][k].row] |= static_cast<std::uint8_t>(1u << l);
    }
  }
  facts.lists = std::move(lists);
  facts.history = watch_list_history(scoreboard);
  facts.models = std::move(models);
  facts.title_rank = title_ranks(scoreboard.rows);
  facts.key_rank = key_ranks(scoreboard.rows);
  return facts;
}

}  // namespace vordak::pipeline
