#pragma once

// A data source's extract files: finding them, their signature in the load log, and the
// query over their rows, in the order of the files and of their lines. Text files are
// read as UTF-8 (with or without a byte order mark) or, where the contract allows it, as
// Windows-1254, which Turkish bank systems still export.

#include <filesystem>
#include <memory>
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

// A directory of its own for the text files that had to be turned into UTF-8, removed
// with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// What the staging view reads. The view is valid while this lives.
struct StagedExtracts {
  // The encoding the text files were read in ("utf-8", "windows-1254", or both joined by
  // ", "); empty for Parquet.
  std::string encoding;
  // SQL selecting the files' rows: each row's file (`_dosya`) and the contract's columns,
  // as text (CSV) or as stored (Parquet).
  std::string rows;
  // The extract behind each value of `_dosya`: the first is 1.
  std::vector<std::string> files;
  // Lines before a file's first row: its line number is its place in the file plus this.
  int lines_before_first_row = 0;
  std::unique_ptr<ScratchDir> converted;  // the UTF-8 copies of Windows-1254 files
};

// The query over the files' rows, with each row's file as its place in `files` (`_dosya`).
// A file without a byte is left out (the empty-file check counts it). Reads each text
// file's header (and a Windows-1254 file whole), not its rows. Throws LoadError naming
// the file that cannot be read or decoded, or lacks a contract column (a wrong delimiter
// shows as one long column).
StagedExtracts stage_extracts(Connection& con, const LoadContract& contract, const std::vector<std::string>& files);

// A DuckDB error met while reading extracts, as the operator needs it: the source, the
// file (DuckDB's, else `shown`), and the first line of the reason, or a plain word when the
// bytes are not in the declared encoding.
LoadError read_error(const LoadContract& contract, const std::string& shown, const DatabaseError& error);

// Windows-1254 text as UTF-8; a byte the code page leaves undefined becomes U+FFFD.
std::string windows1254_to_utf8(std::string_view bytes);

}  // namespace vordak::pipeline
