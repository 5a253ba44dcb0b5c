#pragma once

// The quick way through parse_json's usual document: a record whose one large member maps
// tens of thousands of names to texts written plainly. The library's lexer builds every
// name and text a character at a time; this scan takes them as they lie in the text.

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace vordak {

// Where the value of the top-level member `name` lies in `text`: [begin, end).
struct MemberSpan {
  std::size_t begin;
  std::size_t end;
};

// Given each member's name and text, as views into the text scanned.
using PlainMember = std::function<void(std::string_view name, std::string_view text)>;

// When `text` is an object that gives `name` once, as an object whose members are all texts
// without escapes, control characters or malformed UTF-8, and every other top-level name is
// written without escapes: the place of that object, its members given to `found` in the
// order they come. Otherwise nothing, and `found` may have had some of them. Only finds
// the places: the text outside the member is left for the parser to check.
std::optional<MemberSpan> scan_plain_member(std::string_view text, std::string_view name, const PlainMember& found);

}  // namespace vordak
