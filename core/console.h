#pragma once

#include <string_view>

namespace vordak {

// One operator line on standard output, flushed at once so that it interleaves
// correctly with the output of child processes.
void say(std::string_view line);

// True when standard error is a terminal: progress is shown only then.
bool progress_visible();

// Replaces the current progress line on standard error (terminal only).
void progress(std::string_view line);
// Clears the progress line (terminal only).
void progress_done();

}  // namespace vordak
