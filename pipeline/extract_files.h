#pragma once

// A data source's extract files: finding them, their signature in the load log, and
// reading their rows into the staging table `_okunan` of a connection, each row with its
// file (`_dosya`), its line in the file (`_satir`) and its place in the reading order
// (`_sira`). Text files are read as UTF-8 (with or without a byte order mark) or, where
// the contract allows it, as Windows-1254, which Turkish bank systems still export.

#include <string>
#include <vector>

#include "pipeline/duckdb_connection.h"
#include "pipeline/source_load.h"

namespace vordak::pipeline {

// The regular files of the directories whose names match the contract's pattern (names
// beginning with a dot only when the pattern does), by path. Throws LoadError naming the
// directories when there is none.
std::vector<std::string> extract_files(const LoadContract& contract, const std::vector<std::string>& directories);

// Names, sizes and whole-second modification times, as the load log has always kept
// them: a changed extract changes the signature. Throws LoadError naming a file that
// cannot be read.
std::string extract_signature(const std::vector<std::string>& files);

// Stages the files' rows as text (CSV) or as stored (Parquet); returns the encoding the
// text files were read in ("utf-8", "windows-1254", or both joined by ", "; empty for
// Parquet). A file without a byte is left out (the empty-file check counts it). Throws
// LoadError naming the file that cannot be read or decoded, or lacks a contract column
// (a wrong delimiter shows as one long column).
std::string stage_extracts(Connection& con, const LoadContract& contract, const std::vector<std::string>& files);

// Windows-1254 text as UTF-8; a byte the code page leaves undefined becomes U+FFFD.
std::string windows1254_to_utf8(std::string_view bytes);

}  // namespace vordak::pipeline
