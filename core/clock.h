#pragma once

#include <string>

namespace vordak {

// Seconds since the epoch, with sub-second precision.
double epoch_seconds();

// Local time now as "%Y%m%d_%H%M%S".
std::string local_timestamp();

// Local time now in ISO 8601 without zone: YYYY-MM-DDTHH:MM:SS, then "." and six digits
// of microseconds unless they are zero.
std::string local_iso_now();

}  // namespace vordak
