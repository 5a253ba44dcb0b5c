#pragma once

// Firm keys (entity_id, muta) are compared as integers everywhere in the marts.

#include <cstdint>
#include <optional>
#include <vector>

#include "pipeline/table.h"

namespace vordak::pipeline {

// One cell as a firm key: integers as they are, whole floats within 64 bits, texts of
// an integer (spaces around and a leading "+" allowed), JSON values by the same rules.
// nullopt for a null or absent cell, a fraction, a boolean or any other text.
std::optional<std::int64_t> entity_key(const Column& column, std::size_t row);

// Every value of an entity_id column as a firm key. Throws std::runtime_error naming
// `table`, the column and the offending value for a cell that is not one.
std::vector<std::int64_t> entity_keys(const Column& column, const char* table);

}  // namespace vordak::pipeline
