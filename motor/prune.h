#pragma once

// Retention: which seasons `vordak prune --keep N` removes. Of each mode the newest N
// seasons stay. An older season stays too while it holds the newest meta record of a
// step, for its mode or for its season prefix ("S_" or "T_", the seasons change
// detection searches): removing it would change what the next run decides.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/env.h"
#include "core/sink.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

struct PruneChoice {
  // Seasons to remove, newest first.
  std::vector<fs::path> remove;
  // Seasons beyond the newest N kept for the step records they hold, with those steps.
  std::vector<std::pair<fs::path, std::vector<std::string>>> kept_for_meta;
  // Seasons that stay in all.
  std::size_t remaining = 0;
};

// Chooses what to remove under work_dir/seasons; reads only. Directories whose names are
// not season names are never chosen. A season that cannot be read is passed over, as
// change detection passes it over, with a line on `warnings`, and is never chosen
// either. `keep` must be at least 1.
PruneChoice choose_prune(const fs::path& work_dir, std::size_t keep, Env& env, Sink& warnings);

// Bytes of the regular files below `dir`.
std::uintmax_t tree_size(const fs::path& dir, Env& env);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
