#pragma once

// The search index of a dashboard edition: each word of every firm's title and its firm
// key, with the places (in page order) of the firms that hold it. It is sorted by word
// and cut into files of about a given number of places, so that a search loads only
// the files where its words begin; the page keeps the first word of each file.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/firm_facts.h"

namespace vordak::pipeline {

// A text as searches compare it: lower case the Turkish way, the marks of the Turkish
// letters dropped ("Çİftçİ IŞIK" and "ciftci isik" are one), other characters as they
// are. The page folds what a reader types the same way.
std::string search_key(std::string_view text);

// The words of a text for search: the runs of ASCII letters and digits and non-ASCII
// characters of its search key.
std::vector<std::string> search_words(std::string_view text);
// The same, each word handed to `word` as it is found (the view is valid during the call).
void for_each_search_word(std::string_view text, const std::function<void(std::string_view)>& word);

struct SearchFile {
  std::string first_word;
  // JSON: [[word, place, gap, gap, ...], ...]: each word of the file with the places of
  // its firms, the first as it is and each next one as the gap from the one before. A
  // word with many firms may go on in the next file.
  std::string payload;
};

// The index over `rows` (the edition's rows in page order: a firm's place is its
// position there), from the words of `facts`, in files of about `places_per_file` places.
std::vector<SearchFile> build_search_index(const FirmFacts& facts, const std::vector<std::size_t>& rows,
                                           std::size_t places_per_file);

}  // namespace vordak::pipeline
