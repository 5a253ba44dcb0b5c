#pragma once

// The heap on transparent huge pages, for the programs that touch gigabytes of fresh
// memory (the mart run). Where a page fault is dear (about 15 µs for each 4 KB page on
// a virtual machine), 2 MB pages take about a second off a 200,000-firm run. glibc
// backs its heap with them when its tunable "glibc.malloc.hugetlb=1" is set, but it
// reads its tunables only as a program starts: so the program starts itself again.

#include <optional>
#include <string>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// The GLIBC_TUNABLES value that adds the huge-page heap to `current` (null when the
// variable is unset), or nullopt when `current` already says how the heap uses huge
// pages (the operator's choice stands).
std::optional<std::string> tunables_with_huge_pages(const char* current);

// Starts this program again, with the same arguments and the huge-page heap added to
// its environment. Call it before the program has done anything. Returns, leaving the
// program to run as it is, when the restart is not needed or cannot help or be done:
// the tunable is set already, the kernel offers no transparent huge pages, the program
// runs with raised privileges (which ignore tunables), or the exec fails.
void restart_with_huge_page_heap();

}  // namespace vordak

VORDAK_PUBLIC_END
