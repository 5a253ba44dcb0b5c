#include "pipeline/search_index.h"

#include <algorithm>

#include "core/json_writer.h"
#include "core/number_text.h"
#include "core/text.h"

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

// Calls `emit(c)` for each character of UTF-8 text, as decode_utf8 reads them (a byte
// that starts no well-formed sequence is one U+FFFD), without building the decoded text.
template <class Emit>
void for_each_character(std::string_view text, Emit emit) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      emit(static_cast<char32_t>(byte));
      ++i;
      continue;
    }
    // Two-byte sequences, which hold the Turkish letters, without the general decoder.
    if (byte >= 0xC2 && byte <= 0xDF && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      emit(static_cast<char32_t>((byte & 0x1F) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F)));
      i += 2;
      continue;
    }
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 0;
    if (length == 0 || i + length > text.size()) {
      emit(U'\uFFFD');
      ++i;
      continue;
    }
    const std::u32string decoded = decode_utf8(text.substr(i, length));
    if (decoded.size() != 1) {
      emit(U'\uFFFD');
      ++i;
      continue;
    }
    emit(decoded[0]);
    i += length;
  }
}

void append_character(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += encode_utf8(std::u32string_view(&c, 1));
  }
}

}  // namespace

std::string search_key(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for_each_character(text, [&](char32_t c) {
    if (const char32_t f = folded(c)) append_character(out, f);
  });
  return out;
}

void for_each_search_word(std::string_view text, const std::function<void(std::string_view)>& word) {
  std::string current;
  for_each_character(text, [&](char32_t c) {
    const char32_t f = folded(c);
    if (f == U'\0') return;
    if (is_word_character(f)) {
      append_character(current, f);
    } else if (!current.empty()) {
      word(current);
      current.clear();
    }
  });
  if (!current.empty()) word(current);
}

std::vector<std::string> search_words(std::string_view text) {
  std::vector<std::string> words;
  for_each_search_word(text, [&](std::string_view word) { words.emplace_back(word); });
  return words;
}

std::vector<SearchFile> build_search_index(const FirmFacts& facts, const std::vector<std::size_t>& rows,
                                           std::size_t places_per_file) {
  // Each word's places in place order: counted, then filled (a counting sort by word,
  // the words being numbered in byte order already).
  const std::size_t word_count = facts.words.size();
  std::vector<std::uint32_t> begin(word_count + 1, 0);
  for (const std::size_t row : rows) {
    for (std::uint32_t w = facts.word_start[row]; w < facts.word_start[row + 1]; ++w) ++begin[facts.word_ids[w] + 1];
  }
  for (std::size_t w = 0; w < word_count; ++w) begin[w + 1] += begin[w];
  std::vector<std::uint32_t> places(begin[word_count]);
  std::vector<std::uint32_t> next(begin.begin(), begin.end() - 1);
  for (std::size_t place = 0; place < rows.size(); ++place) {
    const std::size_t row = rows[place];
    for (std::uint32_t w = facts.word_start[row]; w < facts.word_start[row + 1]; ++w) {
      places[next[facts.word_ids[w]]++] = static_cast<std::uint32_t>(place);
    }
  }

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
  for (std::size_t word = 0; word < word_count; ++word) {
    std::uint32_t at = begin[word];
    const std::uint32_t end = begin[word + 1];
    while (at < end) {
      if (in_file == 0) {
        first_word = facts.words[word];
        payload.push_back('[');  // empty: a new file
      } else {
        payload += ',';
      }
      payload += '[';
      append_json_string(payload, facts.words[word]);
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
