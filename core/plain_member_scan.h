#pragma once

// The quick way through parse_json's usual document: a record whose one large member maps
// tens of thousands of names to texts written plainly. The library's lexer builds every
// name and text a character at a time; this scan takes them as they lie in the text.

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/json_reader.h"

namespace vordak {

// Where the value of the top-level member `name` lies in `text`: [begin, end).
struct MemberSpan {
  std::size_t begin;
  std::size_t end;
};

// When `text` is an object that gives `name` once, as an object whose members are all texts
// without escapes, control characters or malformed UTF-8, and every other top-level name is
// written without escapes: the place of that object, its members added to `members` (when
// not null) in the order they come. Otherwise nothing, and `members` may hold some of them.
// Only finds the places: the text outside the member is left for the parser to check.
std::optional<MemberSpan> scan_plain_member(std::string_view text, std::string_view name, TextMembers* members);

}  // namespace vordak
