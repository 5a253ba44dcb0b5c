// The data-source path file is written by hand at a bank. Whatever it holds, it loads or
// fails with an error that names it: never a crash, a hang or a quadratic slowdown.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "core/sink.h"
#include "motor/season.h"
#include "tests/fuzz/fuzz_env.h"

using namespace vordak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path work = fuzzing::scratch_dir();
  static fuzzing::OneFileEnv env(work / "local_data_paths.json");
  StringSink out;
  env.set(std::string(reinterpret_cast<const char*>(data), size));
  try {
    const motor::DataPaths paths = motor::load_data_paths(work, nullptr, env, out);
    // The "[CONFIG]" line and one per source (a path may itself hold a line break).
    if (out.lines().size() < paths.size() + 1) std::abort();
  } catch (const std::runtime_error& failure) {
    if (std::string(failure.what()).find("local_data_paths.json") == std::string::npos) std::abort();
  }
  return 0;
}
