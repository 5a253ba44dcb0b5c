#pragma once

// Reading CSV text back: the branch-region reference the dashboards show names from.

#include <string>
#include <string_view>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// The records of a CSV text (RFC 4180: quoted fields, doubled quotes, CR LF or LF).
std::vector<std::vector<std::string>> parse_csv(std::string_view text);

}  // namespace vordak

VORDAK_PUBLIC_END
