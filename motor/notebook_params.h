#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// A notebook parameter value: text, or an integer (TEST_MUTA_COUNT).
using ParamValue = std::variant<std::string, std::int64_t>;

// Named notebook parameters in the order they were first set; setting a name again
// replaces its value in place.
class NotebookParams {
 public:
  using Entry = std::pair<std::string, ParamValue>;

  NotebookParams() = default;
  NotebookParams(std::initializer_list<Entry> entries) {
    for (const auto& [name, value] : entries) set(name, value);
  }

  void set(const std::string& name, ParamValue value) {
    for (auto& entry : entries_) {
      if (entry.first == name) {
        entry.second = std::move(value);
        return;
      }
    }
    entries_.emplace_back(name, std::move(value));
  }
  const ParamValue* find(const std::string& name) const {
    for (const auto& entry : entries_) {
      if (entry.first == name) return &entry.second;
    }
    return nullptr;
  }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
