#include "pipeline/firm_facts.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <numeric>
#include <string>
#include <unordered_map>

#include "core/helper_thread.h"
#include "pipeline/cleaning.h"
#include "pipeline/search_index.h"

namespace vordak::pipeline {

namespace {

// The place in the alphabet (a = 0) of the letters beyond ASCII, by code point.
int turkish_letter_place(char32_t c) {
  switch (c) {
    case U'Ç': case U'ç': return 3;
    case U'Ğ': case U'ğ': return 8;
    case U'ı': return 10;
    case U'İ': case U'î': case U'Î': return 11;
    case U'Ö': case U'ö': return 18;
    case U'Ş': case U'ş': return 23;
    case U'Ü': case U'ü': case U'û': case U'Û': return 26;
    case U'â': case U'Â': return 0;
    default: return -1;
  }
}

// The place of an ASCII letter in the Turkish alphabet with q, w, x among the others
// (a b c ç d e f g ğ h ı i j k l m n o ö p q r s ş t u ü v w x y z), or -1.
int ascii_letter_place(char c) {
  static constexpr std::string_view kOrder = "abc_defg_h_ijklmno_pqrs_tu_vwxyz";
  if (c == 'I') return 10;  // a capital I is the dotless ı
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (c < 'a' || c > 'z') return -1;
  return static_cast<int>(kOrder.find(c));
}

std::vector<std::uint32_t> ranks_of(const std::vector<std::size_t>& order) {
  std::vector<std::uint32_t> rank(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<std::uint32_t>(i);
  return rank;
}

std::vector<std::uint32_t> title_ranks(const Table& rows) {
  const Column* unvan = rows.find("unvan");
  std::vector<std::string> keys(rows.num_rows());
  for (std::size_t r = 0; unvan != nullptr && r < keys.size(); ++r) keys[r] = alphabetical_key(cell_code(unvan, r));
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
    if (!numbers[r]) texts[r] = cell_code(muta, r);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (numbers[a].has_value() != numbers[b].has_value()) return numbers[a].has_value();
    if (numbers[a]) return *numbers[a] < *numbers[b];
    return texts[a] < texts[b];
  });
  return ranks_of(order);
}

CodeIndex code_index(const Column* column, std::size_t rows) {
  CodeIndex index;
  index.of_row.assign(rows, 0);
  if (column == nullptr) return index;
  // Numbered as met, then renumbered in text order.
  std::unordered_map<std::string, std::uint32_t> number_of;
  std::vector<std::string> met;
  for (std::size_t r = 0; r < rows; ++r) {
    std::string code = cell_code(column, r);
    if (code.empty()) continue;
    const auto [at, added] = number_of.try_emplace(std::move(code), static_cast<std::uint32_t>(met.size() + 1));
    if (added) met.push_back(at->first);
    index.of_row[r] = at->second;
  }
  std::vector<std::uint32_t> order(met.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return met[a] < met[b]; });
  std::vector<std::uint32_t> renumber(met.size() + 1, 0);
  for (std::size_t i = 0; i < order.size(); ++i) {
    renumber[order[i] + 1] = static_cast<std::uint32_t>(i + 1);
    index.codes.push_back(met[order[i]]);
  }
  for (std::uint32_t& number : index.of_row) number = renumber[number];
  return index;
}

void add_search_words(const Table& rows, FirmFacts& facts) {
  const Column* muta = rows.find("muta");
  const Column* unvan = rows.find("unvan");
  // Words numbered as met (the map's keys view the strings of facts.words, which a
  // deque keeps in place), then renumbered in byte order.
  std::deque<std::string> met;
  std::unordered_map<std::string_view, std::uint32_t> number_of;
  facts.word_start.assign(1, 0);
  std::vector<std::uint32_t> firm_words;
  const auto add = [&](std::string_view word) {
    auto at = number_of.find(word);
    if (at == number_of.end()) {
      met.emplace_back(word);
      at = number_of.emplace(met.back(), static_cast<std::uint32_t>(met.size() - 1)).first;
    }
    firm_words.push_back(at->second);
  };
  for (std::size_t r = 0; r < rows.num_rows(); ++r) {
    firm_words.clear();
    for_each_search_word(cell_code(unvan, r), add);
    for_each_search_word(cell_code(muta, r), add);
    std::sort(firm_words.begin(), firm_words.end());
    firm_words.erase(std::unique(firm_words.begin(), firm_words.end()), firm_words.end());
    facts.word_ids.insert(facts.word_ids.end(), firm_words.begin(), firm_words.end());
    facts.word_start.push_back(static_cast<std::uint32_t>(facts.word_ids.size()));
  }
  std::vector<std::uint32_t> order(met.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return met[a] < met[b]; });
  std::vector<std::uint32_t> renumber(order.size());
  facts.words.clear();
  for (std::size_t i = 0; i < order.size(); ++i) {
    renumber[order[i]] = static_cast<std::uint32_t>(i);
    facts.words.push_back(std::move(met[order[i]]));
  }
  for (std::uint32_t& id : facts.word_ids) id = renumber[id];
}

}  // namespace

std::string cell_code(const Column* column, std::size_t row) {
  if (column == nullptr || column->is_null(row)) return "";
  return column->kind() == ColumnKind::kText ? std::string(column->text(row)) : cell_text_form(*column, row);
}

std::string alphabetical_key(std::string_view text) {
  // Letters from 'A' on (after space, digits and most punctuation), the rest of ASCII
  // after them, other characters last, as their UTF-8 bytes.
  std::string key;
  key.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      const int place = ascii_letter_place(text[i]);
      key += place >= 0 ? static_cast<char>('A' + place) : text[i] < 'A' ? text[i] : '{';
      ++i;
      continue;
    }
    // Two-byte sequences hold every Turkish letter.
    if ((byte & 0xE0) == 0xC0 && i + 1 < text.size()) {
      const char32_t c = static_cast<char32_t>((byte & 0x1F) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      const int place = turkish_letter_place(c);
      if (place >= 0) {
        key += static_cast<char>('A' + place);
        i += 2;
        continue;
      }
    }
    key += text[i++];
  }
  return key;
}

FirmFacts firm_facts(const Scoreboard& scoreboard, WatchLists lists, std::vector<std::uint8_t> history,
                     std::vector<ModelHistory> models) {
  FirmFacts facts;
  const Table& rows = scoreboard.rows;
  const std::size_t count = rows.num_rows();
  facts.current.assign(count, 0);
  for (std::size_t l = 0; l < lists.size(); ++l) {
    facts.place[l].assign(count, kNotListed);
    for (std::size_t k = 0; k < lists[l].size(); ++k) {
      facts.place[l][lists[l][k].row] = static_cast<std::uint32_t>(k);
      facts.current[lists[l][k].row] |= static_cast<std::uint8_t>(1u << l);
    }
  }
  facts.lists = std::move(lists);
  facts.history = std::move(history);
  facts.models = std::move(models);
  const std::vector<std::function<void()>> parts = {
      [&] { facts.title_rank = title_ranks(rows); },
      [&] { facts.key_rank = key_ranks(rows); },
      [&] { facts.segments = code_index(rows.find("segment"), count); },
      [&] { facts.regions = code_index(rows.find("bolge_kodu"), count); },
      [&] { facts.branches = code_index(rows.find("sube_kodu"), count); },
      [&] { facts.bands = period_bands(scoreboard); },
      [&] { add_search_words(rows, facts); },
  };
  on_two_threads(parts.size(), [&](std::size_t i) { parts[i](); });
  return facts;
}

}  // namespace vordak::pipeline
