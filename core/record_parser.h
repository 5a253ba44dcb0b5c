#pragma once

// Reading a record: a JSON object whose one member maps many names to texts (a step's
// source fingerprints, tens of thousands of them). That member is kept apart in a
// TextMembers; the rest is a document as parse_json reads it.

#include <string>
#include <string_view>

#include "core/json_writer.h"
#include "core/text_members.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// parse_json of `text`, except that the members of the top-level member `name`, when it is
// an object, go into `members` (which holds the text) instead of the document, which keeps
// an empty object in its place. A container inside that member is a value that is not a
// text. Throws what parse_json throws, for the same texts.
ordered_json parse_record(std::string&& text, std::string_view name, TextMembers& members);

}  // namespace vordak

VORDAK_PUBLIC_END
