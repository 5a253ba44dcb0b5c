#include "pipeline/search_index.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "core/json_writer.h"
#include "core/number_text.h"
#include "core/text.h"
#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

// The search form of one character; U'\0' to drop it.
char32_t folded(char32_t c) {
  switch (c) {
    case U'Ç': case U'ç': return U'c';
    case U'Ğ': case U'ğ': return U'g';
    case U'I': case U'ı': case U'İ': case U'î': case U'Î': return U'i';
    case U'Ö': case U'ö': return U'o';
    case U'Ş': case U'ş': return U's';
    case U'Ü': case U'ü': case U'û': case U'Û': return U'u';
    case U'â': case U'Â': return U'a';
    case U'\u0307': return U'\0';  // the combining dot some systems write after "i"
    default: return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c;
  }
}

bool is_word_character(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9') || c >= 0x80; }

std::string cell_text(const Column* column, std::size_t row) {
  if (column == nullptr || column->is_null(row)) return "";
  return column->kind() == ColumnKind::kText ? std::string(column->text(row)) : cell_text_form(*column, row);
}

}  // namespace

std::string search_key(std::string_view text) {
  std::u32string out;
  for (const char32_t c : decode_utf8(text)) {
    if (const char32_t f = folded(c)) out += f;
  }
  return encode_utf8(out);
}

std::vector<std::string> search_words(std::string_view text) {
  std::vector<std::string> words;
  std::u32string word;
  for (const char32_t c : decode_utf8(search_key(text))) {
    if (is_word_character(c)) {
      word += c;
    } else if (!word.empty()) {
      words.push_back(encode_utf8(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(encode_utf8(word));
  return words;
}

std::vector<SearchFile> build_search_index(const Table& table, const std::vector<std::size_t>& rows,
                                           std::size_t places_per_file) {
  const Column* muta = table.find("muta");
  const Column* unvan = table.find("unvan");
  // Every (word, place) once, in place order; words numbered as they are met.
  std::unordered_map<std::string, std::uint32_t> number_of;
  std::vector<const std::string*> words;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> postings;  // word number, place
  std::vector<std::string> firm_words;
  for (std::size_t place = 0; place < rows.size(); ++place) {
    firm_words = search_words(cell_text(unvan, rows[place]));
    for (std::string& word : search_words(cell_text(muta, rows[place]))) firm_words.push_back(std::move(word));
    std::sort(firm_words.begin(), firm_words.end());
    firm_words.erase(std::unique(firm_words.begin(), firm_words.end()), firm_words.end());
    for (std::string& word : firm_words) {
      const auto [at, added] = number_of.try_emplace(std::move(word), static_cast<std::uint32_t>(words.size()));
      if (added) words.push_back(&at->first);
      postings.emplace_back(at->second, static_cast<std::uint32_t>(place));
    }
  }
  // Words in byte order (the order of their characters' codes, as the page compares
  // them), each word's places in place order.
  std::vector<std::uint32_t> order(words.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return *words[a] < *words[b]; });
  std::vector<std::uint32_t> start(words.size() + 1, 0);
  for (const auto& [word, place] : postings) ++start[word + 1];
  std::vector<std::uint32_t> counts(start.begin() + 1, start.end());
  std::vector<std::uint32_t> begin(words.size(), 0);
  std::uint32_t running = 0;
  for (const std::uint32_t word : order) {
    begin[word] = running;
    running += counts[word];
  }
  std::vector<std::uint32_t> places(postings.size());
  std::vector<std::uint32_t> next = begin;
  for (const auto& [word, place] : postings) places[next[word]++] = place;

  std::vector<SearchFile> files;
  std::string payload;
  std::size_t in_file = 0;
  std::string first_word;
  auto close_file = [&] {
    payload += ']';
    files.push_back({first_word, std::move(payload)});
    payload.clear();
    in_file = 0;
  };
  for (const std::uint32_t word : order) {
    std::uint32_t at = begin[word];
    const std::uint32_t end = begin[word] + counts[word];
    while (at < end) {
      if (in_file == 0) {
        first_word = *words[word];
        payload.push_back('[');  // empty: a new file
      } else {
        payload += ',';
      }
      payload += '[';
      append_json_string(payload, *words[word]);
      std::uint32_t previous = 0;
      for (bool first = true; at < end && in_file < places_per_file; ++at, ++in_file, first = false) {
        payload += ',';
        payload += int_text(first ? places[at] : places[at] - previous);
        previous = places[at];
      }
      payload += ']';
      if (in_file >= places_per_file) close_file();
    }
  }
  if (in_file > 0) close_file();
  return files;
}

}  // namespace vordak::pipeline
