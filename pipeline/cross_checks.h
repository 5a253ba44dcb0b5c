#pragma once

// The checks across data sources, made once every source is loaded: the monitoring and
// credit extracts cover the same periods, and every monitored firm has its static data.

#include <string>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/source_load.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

// Each check of `checks` (the JSON form the engine hands transform: name, threshold,
// whether it blocks, and the raw tables it compares) judged on the loaded tables; a
// failed blocking check named in `accepted` is accepted.
// Throws std::invalid_argument for a check this build does not know.
std::vector<CheckResult> check_across_sources(Connection& con, const ordered_json& checks,
                                              const std::vector<std::string>& accepted);

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
