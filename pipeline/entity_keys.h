#pragma once

// Firm keys (entity_id) are compared as integers everywhere in the marts.

#include <cstdint>
#include <vector>

#include "pipeline/table.h"

namespace vordak::pipeline {

// Every value of an entity_id column as an integer: integers as they are, integral
// floats and integer texts converted. Throws std::runtime_error naming `table` and the
// offending value for a null, a fraction or any other text.
std::vector<std::int64_t> entity_keys(const Column& column, const char* table);

}  // namespace vordak::pipeline
