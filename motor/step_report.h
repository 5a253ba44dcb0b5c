#pragma once

// What a step's notebook reports of its run beyond success or failure, through the file
// the engine names in its REPORT_PATH parameter (written by `vordak load` and by
// vordak.step_report). One JSON object, every member optional:
//   "kaynak_degisti"  false when every load of the step found its extracts as loaded last
//                     time and kept its tables (absent: true)
//   "uyarilar"        the data checks' warnings, one text each
//   "kabul_edilen"    the failed checks the run's acceptance let through ("SOURCE:CHECK")
//   "engel"           {"kontrol": "SOURCE:CHECK", "mesaj": ...}: a data check stopped the
//                     step, and nothing that reads its tables may run
//   "veri_kalitesi"   each load's figures (rows read, loaded, rejected; per file and period)

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

namespace fs = std::filesystem;

struct StepReport {
  bool kaynak_degisti = true;
  std::vector<std::string> uyarilar;
  std::vector<std::string> kabul_edilen;
  std::optional<std::string> engel;  // the blocking check(s)
  ordered_json veri_kalitesi;        // null when absent
};


// The report at `path`; absent when the notebook wrote none. Throws std::runtime_error
// naming the file when it is not a regular file, is larger than a report can be, or is
// not a JSON object whose members are of the kinds above.
std::optional<StepReport> read_step_report(const fs::path& path, Env& env);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
