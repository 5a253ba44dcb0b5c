#include "pipeline/trimmed_text.h"

#include <duckdb.h>

#include <cstring>
#include <string_view>

#include "pipeline/duckdb_chunk_reader.h"

namespace vordak::pipeline {

namespace {

// The UTF-8 forms of Unicode's space separators: U+0020, U+00A0, U+1680, U+2000-U+200A,
// U+202F, U+205F and U+3000.
constexpr std::string_view kSpaceSeparators[] = {
    " ",            "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

// The length of the space separator that `text` starts with, or 0. In valid UTF-8 a
// match is a whole character.
std::size_t leading_space(std::string_view text) {
  for (const std::string_view space : kSpaceSeparators) {
    if (text.starts_with(space)) return space.size();
  }
  return 0;
}

std::size_t trailing_space(std::string_view text) {
  for (const std::string_view space : kSpaceSeparators) {
    if (text.ends_with(space)) return space.size();
  }
  return 0;
}

// Whether a byte may begin or end a space separator: most cells' ends are tested by this alone.
bool may_be_space_end(unsigned char byte) { return byte == 0x20 || byte >= 0x80; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && may_be_space_end(static_cast<unsigned char>(text.front()))) {
    const std::size_t space = leading_space(text);
    if (space == 0) break;
    text.remove_prefix(space);
  }
  while (!text.empty() && may_be_space_end(static_cast<unsigned char>(text.back()))) {
    const std::size_t space = trailing_space(text);
    if (space == 0) break;
    text.remove_suffix(space);
  }
  return text;
}


void trim_cells(duckdb_data_chunk arguments, duckdb_vector results) {
  const idx_t rows = duckdb_data_chunk_get_size(arguments);
  duckdb_vector texts = duckdb_data_chunk_get_vector(arguments, 0);
  auto* cells = static_cast<duckdb_string_t*>(duckdb_vector_get_data(texts));
  const std::uint64_t* valid = duckdb_vector_get_validity(texts);
  auto* trimmed_cells = static_cast<duckdb_string_t*>(duckdb_vector_get_data(results));
  duckdb_vector_ensure_validity_writable(results);
  std::uint64_t* result_valid = duckdb_vector_get_validity(results);
  for (idx_t row = 0; row < rows; ++row) {
    if (!row_is_valid(valid, row)) {
      duckdb_validity_set_row_invalid(result_valid, row);
      continue;
    }
    const std::string_view text = trimmed({duckdb_string_t_data(&cells[row]), duckdb_string_t_length(cells[row])});
    if (text.empty()) {
      duckdb_validity_set_row_invalid(result_valid, row);
    } else if (text.size() <= sizeof trimmed_cells[row].value.inlined.inlined) {
      // Most cells are short: such a value lives in the vector itself, zero-padded.
      duckdb_string_t& cell = trimmed_cells[row];
      cell = {};
      cell.value.inlined.length = static_cast<std::uint32_t>(text.size());
      std::memcpy(cell.value.inlined.inlined, text.data(), text.size());
    } else {
      duckdb_vector_assign_string_element_len(results, row, text.data(), text.size());
    }
  }
}

}  // namespace

void define_trimmed_text(Connection& con) { con.define_function(kTrimmedText, {DUCKDB_TYPE_VARCHAR}, DUCKDB_TYPE_VARCHAR, trim_cells); }

}  // namespace vordak::pipeline
