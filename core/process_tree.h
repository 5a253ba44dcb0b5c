#pragma once

// Processes found through the parent links in /proc.

#include <sys/types.h>

#include <optional>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

struct ProcessEntry {
  pid_t parent = 0;
  bool ended = false;  // a zombie, waiting to be reaped
};

// A process's parent and state; absent when no such process is there.
std::optional<ProcessEntry> process_entry(pid_t pid);

// True when `pid` is this process's parent, or its parent's, and so on up to init.
bool is_ancestor(pid_t pid);

}  // namespace vordak

VORDAK_PUBLIC_END
