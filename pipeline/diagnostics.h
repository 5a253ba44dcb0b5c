#pragma once

// The diagnostic index: the findings of diag_eus_kapsam_diskalma regrouped by firm and
// period, for the dashboards to explain why a firm was in or out of scope.

#include <string>

#include "core/sink.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// Loads diag_eus_kapsam_diskalma (its "grup" and "yeni" columns are optional) into
// {muta: {donem: {"bulgular": [...], "yeni_gruplar": [...]}}}, firm keys and periods as
// decimal texts, and returns it as compact JSON text: the index is only ever written,
// and as a document it would take ten times the memory. Never fails: a missing or
// empty table, or any failure on the way (printed as "  [DIAG] Hata: ..."), gives an
// empty text. Prints one line on `sink`.
std::string build_diag_index(Connection& con, Sink& sink);

}  // namespace vordak::pipeline
