#pragma once

#include "core/export.h"
#include "core/sink.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// The progress line of a terminal's standard error, as a Sink: each line (or partial
// text) takes the place of the one shown before, and an empty one clears it. When
// standard error is no terminal nothing is written, so that logs get no progress.
Sink& terminal_progress();

}  // namespace vordak

VORDAK_PUBLIC_END
