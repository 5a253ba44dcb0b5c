#pragma once

// Text forms of a moment, in local time. The moment itself comes from Env::now().

#include <optional>
#include <string>

#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// Seconds since the epoch, with sub-second precision.
double epoch_seconds(TimePoint time);

// "%Y%m%d_%H%M%S".
std::string timestamp_text(TimePoint time);

// The moment's whole seconds in a strftime `format` (at most 63 bytes of text).
std::string local_time_text(TimePoint time, const char* format);

// ISO 8601 without zone: YYYY-MM-DDTHH:MM:SS, then "." and six digits of microseconds
// unless they are zero.
std::string iso_text(TimePoint time);

// ISO 8601 to the second with the local zone's offset from UTC: 2025-03-01T14:15:02+03:00.
std::string iso_offset_text(TimePoint time);

// The same for a local time stamp "%Y%m%d_%H%M%S" (a season's), with the offset the
// local zone had then; absent when the text is no such stamp.
std::optional<std::string> iso_offset_text(const std::string& timestamp);

}  // namespace vordak

VORDAK_PUBLIC_END
