#pragma once

// A set of firm keys ("muta" cells) compared by value: numbers by their numeric value
// (1234 and 1234.0 are one key), texts by their bytes, a number never equal to a text.
// Used where a firm found in one place must be recognised in another row.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "pipeline/table.h"

namespace vordak::pipeline {

class MutaSet {
 public:
  void add(const Column& muta, std::size_t row);
  bool contains(const Column& muta, std::size_t row) const;
  std::size_t size() const { return numbers_.size() + texts_.size() + (has_null_ ? 1 : 0); }

 private:
  std::unordered_set<double> numbers_;
  std::unordered_set<std::string> texts_;
  bool has_null_ = false;
};

// Each row's firm as a number from 0 up: rows whose "muta" cells MutaSet takes for one key
// share it.
std::vector<std::uint32_t> firm_numbers(const Column& muta);

}  // namespace vordak::pipeline
