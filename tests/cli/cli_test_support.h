#pragma once

// Running the built `vordak` binary from the end-to-end tests.

#include <string>
#include <vector>

#include "core/child_process.h"
#include "motor/step_table.h"
#include "tests/test_support.h"

namespace vordak::testing {

// Runs VORDAK_BINARY with `args` in `cwd` (empty: the test's directory), output captured.
inline ChildResult run_vordak(const std::vector<std::string>& args, const std::string& cwd = "") {
  std::vector<std::string> argv = {VORDAK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildOptions options;
  options.cwd = cwd;
  return run_child(argv, options);
}

// Tiny notebooks for every step in `dir`, each recording that it ran in ran.txt.
inline void write_tiny_notebooks(const fs::path& dir) {
  for (const motor::StepDefinition& step : motor::step_table()) {
    write_notebook(dir / step.nb, {"params:DB_PATH = ''", "open('ran.txt', 'a').write('" + step.kod + "\\n')"});
  }
}

}  // namespace vordak::testing
