#pragma once

// The diagnostic index: the findings of diag_eus_kapsam_diskalma regrouped by firm and
// period, for the dashboards to explain why a firm was in or out of scope.

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// Loads diag_eus_kapsam_diskalma (its "grup" and "yeni" columns are optional) into
// {muta: {donem: {"bulgular": [...], "yeni_gruplar": [...]}}}, firm keys and periods as
// decimal texts. Never fails: a missing or empty table, or any failure on the way
// (printed as "  [DIAG] Hata: ..."), gives an empty index. Prints one line on `sink`.
ordered_json build_diag_index(Connection& con, Sink& sink);

}  // namespace vordak::pipeline
