#include "motor/quick_fingerprints.h"

#include <cassert>
#include <numeric>
#include <span>

#include "core/name_index.h"

namespace vordak::motor {

std::optional<std::size_t> QuickFingerprints::first_changed(const TextMembers& stored) {
  const std::vector<std::uint32_t> at = positions(stored);
  assert(paths_.size() == prints_.size() && at.size() == stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const std::optional<std::string_view> now = prints_[at[i]].text();
    if (now && stored[i].text != now) return i;
  }
  return std::nullopt;
}

std::vector<std::uint32_t> QuickFingerprints::positions(const TextMembers& stored) {
  std::vector<std::uint32_t> at(stored.size());
  // A run's decisions mostly ask for the same files in the same order (steps that read one
  // source directory): such a list is found whole, without looking each path up.
  for (const Taken& taken : taken_) {
    if (taken.count != stored.size()) continue;
    std::size_t same = 0;
    while (same < stored.size() && paths_[taken.first + same] == stored[same].name) ++same;
    if (same == stored.size()) {
      assert(taken.first + taken.count <= paths_.size());
      std::iota(at.begin(), at.end(), static_cast<std::uint32_t>(taken.first));
      return at;
    }
  }
  const auto path_at = [this](std::size_t i) { return paths_[i]; };
  if (indexed_ < paths_.size()) {
    name_index::index_all(slots_, paths_.size(), path_at);
    indexed_ = paths_.size();
  }
  const std::size_t known = paths_.size();
  paths_.reserve(known + stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const std::string_view path = stored[i].name;
    const std::optional<std::size_t> found = name_index::find(slots_, known, path, path_at);
    at[i] = static_cast<std::uint32_t>(found ? *found : paths_.size());
    if (!found) paths_.push_back(path);
  }
  if (paths_.size() > known) {
    prints_.resize(paths_.size());
    fast_fingerprints(std::span(paths_).subspan(known), std::span(prints_).subspan(known), env_);
    taken_.push_back({known, paths_.size() - known});
  }
#ifndef NDEBUG
  for (std::size_t i = 0; i < stored.size(); ++i) assert(paths_[at[i]] == stored[i].name);
#endif
  return at;
}

}  // namespace vordak::motor
