// Meta records of earlier seasons are read back to decide whether a step runs. Whatever a
// record holds, the decision is made or a clear error raised: never a crash or a hang.

#include <cstddef>
#include <cstdint>

#include "core/sink.h"
#include "motor/change_detection.h"
#include "tests/fuzz/fuzz_env.h"

using namespace vordak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path work = fuzzing::scratch_dir() / "work";
  static fuzzing::OneFileEnv env(work / "seasons" / "S_20000101_000000_prod_1.0.0" / "meta" / "adim_transform.json");
  static StringSink out;
  static const motor::Season season = [] {
    fs::create_directories(work / "seasons" / "S_20000101_000000_prod_1.0.0" / "meta");
    motor::MotorArgs args;
    args.work_dir = work.string();
    args.data_paths = motor::DataPaths{{"kik_data_ham_csv", "/nowhere"}};
    args.dry_run = true;
    return motor::Season(args, env, out);
  }();
  env.set(std::string(reinterpret_cast<const char*>(data), size));
  motor::ChangeDetector changes(season, env, out);
  (void)changes.decide("transform", {});
  (void)changes.decide("marts", {});
  out.take();
  return 0;
}
