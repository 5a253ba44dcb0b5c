// Notebooks come from the working directory, where anyone may have edited them. Whatever
// a file holds, its fingerprint is taken or refused, and the engine's check accepts it
// or names the file: never a crash or a hang.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "motor/fingerprint.h"
#include "motor/notebook_check.h"
#include "motor/parameter_injection.h"
#include "tests/fuzz/fuzz_env.h"

using namespace vordak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path path = fuzzing::scratch_dir() / "nb_02_transform.ipynb";
  static fuzzing::OneFileEnv env(path);
  const std::string text(reinterpret_cast<const char*>(data), size);
  env.set(text);
  const motor::Fingerprint fingerprint = motor::notebook_code_fingerprint(text);
  bool accepted = true;
  try {
    motor::check_notebook(path, env);
  } catch (const std::runtime_error& failure) {
    if (std::string(failure.what()).find(path.string()) == std::string::npos) std::abort();
    accepted = false;
  }
  // A notebook the engine accepts has a fingerprint and takes the run's parameters.
  if (accepted) {
    if (!fingerprint) std::abort();
    ordered_json notebook = parse_json(text);
    notebook["nbformat"] = 4;
    motor::inject_parameters(notebook, motor::NotebookParams{{"DB_PATH", "db/vrd.duckdb"}, {"TEST_MUTA_COUNT", 0}});
    (void)motor::notebook_text(notebook);
  }
  return 0;
}
