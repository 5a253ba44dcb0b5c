#pragma once

#include <string_view>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// True when standard error is a terminal: progress is shown only then.
bool progress_visible();

// Replaces the current progress line on standard error (terminal only).
void progress(std::string_view line);
// Clears the progress line (terminal only).
void progress_done();

}  // namespace vordak

VORDAK_PUBLIC_END
