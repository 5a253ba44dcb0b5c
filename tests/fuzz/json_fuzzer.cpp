// Every record, notebook and settings file is read by the library's lexer with our own
// document builder. On any text it must read exactly what the library's parser reads,
// and refuse exactly what it refuses, except that it also refuses nesting deeper than
// kMaxJsonDepth. A record read with its source fingerprints set aside (simdjson's quick
// way or the long one) is the same document once they are put back.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/record_parser.h"

using namespace vordak;

namespace {

std::optional<ordered_json> parsed(const std::string& text, TextMembers* set_aside) {
  try {
    return set_aside != nullptr ? parse_record(std::string(text), "source_hashes", *set_aside) : parse_json(text);
  } catch (const ordered_json::exception&) {
    return std::nullopt;
  }
}

// The deepest nesting of arrays and objects in valid JSON text, counted without recursion.
// The library's document ends at a NUL character: what follows it is not counted.
std::size_t nesting_depth(const std::string& text) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.starts_with("\xEF\xBB\xBF")) return 0;  // refused by us, skipped by the library
  std::optional<ordered_json> expected;
  try {
    expected = ordered_json::parse(text);
  } catch (const ordered_json::exception&) {
  }
  std::optional<ordered_json> read = parsed(text, nullptr);
  // Too deep is refused by every way of reading, before anything recurses over it.
  if (expected && nesting_depth(text) > kMaxJsonDepth) {
    TextMembers members;
    if (read || parsed(text, &members)) std::abort();
    return 0;
  }
  if (expected.has_value() != read.has_value()) std::abort();
  // Compared as text: NaN never equals itself, and the library never reads one anyway.
  if (expected && expected->dump() != read->dump()) std::abort();

  TextMembers members;
  std::optional<ordered_json> aside = parsed(text, &members);
  if (aside.has_value() != read.has_value()) std::abort();
  if (!aside || members.empty()) {
    if (aside && aside->dump() != read->dump()) std::abort();
    return 0;
  }
  bool all_texts = true;
  for (std::size_t i = 0; i < members.size(); ++i) all_texts = all_texts && members[i].text.has_value();
  // Values that are no texts are only counted: compare the rest.
  if (all_texts) {
    (*aside)["source_hashes"] = members.to_json();
  } else {
    (*aside)["source_hashes"] = nullptr;
    (*read)["source_hashes"] = nullptr;
  }
  if (aside->dump() != read->dump()) std::abort();
  return 0;
}
