#pragma once

#include <filesystem>
#include <string>

#include "core/env.h"
#include "core/json_writer.h"
#include "motor/notebook_params.h"

namespace vordak::motor {

// The tag of the cell that receives the parameters' defaults, and of the cell we add.
inline constexpr const char* kParametersTag = "parameters";
inline constexpr const char* kInjectedParametersTag = "injected-parameters";

// A value as a Python literal: integers as they are, text as a double-quoted string
// literal that evaluates to exactly the same text. Quotes, backslashes and control or
// line-breaking characters are escaped; other UTF-8 (Turkish letters) stays as it is;
// bytes that are not UTF-8 become \udcXX, which Python's file functions turn back into
// the same bytes.
std::string python_literal(const ParamValue& value);

// The source of the injected cell: "# Parameters" and one "NAME = literal" line per
// parameter, in order, each ending in a line break. Throws std::invalid_argument for a
// name that is not a plain Python identifier.
std::string parameters_source(const NotebookParams& parameters);

// Puts a code cell tagged injected-parameters holding `parameters` into a notebook
// document, as papermill does: in place of an earlier injected cell when there is one,
// else right after the first cell tagged parameters, else at the top. Throws
// BadNotebook (bad_notebook.h, with no path) when the document is not an nbformat 4
// notebook.
void inject_parameters(ordered_json& notebook, const NotebookParams& parameters);

// Reads and parses a notebook file through `env`. Throws naming the file when it is
// missing or unreadable (IoError), not a regular file (FileRefused) or not valid JSON
// (BadNotebook; nesting deeper than kMaxJsonDepth included).
ordered_json read_notebook(const std::filesystem::path& path, Env& env);

// The file text nbformat would write for the document: one-space indentation, keys
// sorted, non-ASCII as it is, a final line break.
std::string notebook_text(const ordered_json& notebook);

}  // namespace vordak::motor
