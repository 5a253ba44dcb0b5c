#pragma once

// Pipeline Motor — Orchestration engine with change detection, cascade deps, season tracking.
//
// The pipeline's vocabulary: the ordered step registry, the dependency table and the
// ingest steps, in the forms the engine looks them up. Built from the step table once
// when the library loads and never modified afterwards.

#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

struct AdimKaydi {
  std::string nb;        // notebook file name
  std::string aciklama;  // description shown to the operator
};

// An insertion-ordered map with lookup by key; a missing key yields nullptr.
template <typename Value>
class OrderedTable {
 public:
  using Entry = std::pair<std::string, Value>;
  explicit OrderedTable(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  const Value* find(std::string_view key) const {
    for (const auto& [k, v] : entries_) {
      if (k == key) return &v;
    }
    return nullptr;
  }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }

 private:
  std::vector<Entry> entries_;
};

// Step key -> upstream step keys, in the order they are named in a cascade reason.
extern const OrderedTable<std::vector<std::string>> BAGIMLILIK;
// Step key -> notebook and description, in registry order (the order `from_step` follows).
extern const OrderedTable<AdimKaydi> ADIM_REGISTRY;
// The registry keys beginning with "ingest_", in registry order.
extern const std::vector<std::string> ALL_INGEST_STEPS;

// True for a step key beginning with "ingest_".
bool is_ingest_step(std::string_view kod);

// The registry keys in registry order.
std::vector<std::string> registry_keys();

}  // namespace vordak::motor

VORDAK_PUBLIC_END
