#pragma once

// The quick fingerprints of source files, for a run's decisions: each file's status is
// taken once in the run, the first time a decision asks for it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/env.h"
#include "core/text_members.h"
#include "motor/fingerprint.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

class QuickFingerprints {
 public:
  explicit QuickFingerprints(Env& env) : env_(env) {}
  QuickFingerprints(const QuickFingerprints&) = delete;
  QuickFingerprints& operator=(const QuickFingerprints&) = delete;

  // The first of `stored` (quick fingerprints by path, as a record keeps them) whose file
  // is there now with another fingerprint. A file that is gone, or whose status cannot be
  // read, is passed over; a stored value that is not a text matches nothing. The names
  // are kept as views: `stored` must outlive this object.
  std::optional<std::size_t> first_changed(const TextMembers& stored);

 private:
  // Positions in paths_ of paths whose statuses were taken together.
  struct Taken {
    std::size_t first;
    std::size_t count;
  };

  // Where each of the stored paths is in paths_, taking the statuses not yet taken.
  std::vector<std::uint32_t> positions(const TextMembers& stored);

  Env& env_;
  // By position, the files whose statuses were taken, and their fingerprints.
  std::vector<std::string_view> paths_;
  std::vector<QuickFingerprint> prints_;
  std::vector<Taken> taken_;
  std::vector<std::uint32_t> slots_;  // the first `indexed_` paths by name (see name_index)
  std::size_t indexed_ = 0;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
