#pragma once

// The SQL function of a connection that gives a text cell as a raw table takes it:
//   _metin(text VARCHAR) -> VARCHAR
// is `text` without the Unicode space separators (category Zs) at either end, null when
// nothing is left or `text` is null: what NULLIF(trim(text), '') gives. The database's
// trim() looks up the category of every character of every cell; only the ends can
// change the result, and a load of millions of cells pays for the difference.

#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

inline constexpr const char* kTrimmedText = "_metin";

// Not inside a transaction (Connection::define_function).
void define_trimmed_text(Connection& con);

}  // namespace vordak::pipeline
