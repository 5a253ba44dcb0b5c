#pragma once

// An index by hash of names kept in order by position (an object's members, files): slots
// hold a position + 1 (0: empty) and stay at most half full. Below kIndexFrom names a
// search is cheaper than an index, and none is kept. `name_at(i)` gives the name at
// position i.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::name_index {

constexpr std::size_t kIndexFrom = 16;

// The slot of `name`: its own, or the empty one where it would go.
template <class NameAt>
std::uint32_t* slot_of(std::vector<std::uint32_t>& slots, std::string_view name, const NameAt& name_at) {
  assert(!slots.empty() && (slots.size() & (slots.size() - 1)) == 0);  // a power of two: the mask wraps
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = std::hash<std::string_view>{}(name) & mask;; i = (i + 1) & mask) {
    std::uint32_t& slot = slots[i];
    if (slot == 0 || name_at(slot - 1) == name) return &slot;
  }
}

// The position of `name` among the first `count` names, if it is there.
template <class NameAt>
std::optional<std::size_t> find(std::vector<std::uint32_t>& slots, std::size_t count, std::string_view name,
                                const NameAt& name_at) {
  if (slots.empty()) {
    for (std::size_t i = 0; i < count; ++i) {
      if (name_at(i) == name) return i;
    }
    return std::nullopt;
  }
  assert(2 * count <= slots.size());  // at most half full: a search ends at an empty slot
  const std::uint32_t slot = *slot_of(slots, name, name_at);
  return slot == 0 ? std::nullopt : std::optional<std::size_t>(slot - 1);
}

// Indexes the first `count` names afresh, at four times their count.
template <class NameAt>
void index_all(std::vector<std::uint32_t>& slots, std::size_t count, const NameAt& name_at) {
  if (count < kIndexFrom) {
    slots.clear();
    return;
  }
  std::size_t size = 64;
  while (size < 4 * count) size *= 2;
  slots.assign(size, 0);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t* slot = slot_of(slots, name_at(i), name_at);
    assert(*slot == 0);  // the names are distinct
    *slot = static_cast<std::uint32_t>(i + 1);
  }
}

// Indexes name `count - 1`, just added; indexes all afresh when the index would be more
// than half full.
template <class NameAt>
void index_added(std::vector<std::uint32_t>& slots, std::size_t count, const NameAt& name_at) {
  assert(count > 0 && !find(slots, count - 1, name_at(count - 1), name_at));  // the name added is new
  if (count == kIndexFrom || (!slots.empty() && 2 * count > slots.size())) {
    index_all(slots, count, name_at);
  } else if (!slots.empty()) {
    *slot_of(slots, name_at(count - 1), name_at) = static_cast<std::uint32_t>(count);
  }
}

}  // namespace vordak::name_index

VORDAK_PUBLIC_END
