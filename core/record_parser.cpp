// parse_record reads a record the quick way with simdjson's On-Demand parser when it is
// written as records are: the large member's names and texts plain (no escape, no control
// character), each kept where it lies in the text. Anything else (an escape, a value that
// is not a text, the member given twice, a malformed text) goes the long way through
// parse_json, so the document and every error are parse_json's own.

#include "core/record_parser.h"

#include <simdjson.h>

#include <optional>

namespace vordak {

namespace {

namespace ondemand = simdjson::ondemand;

// Where the large member's object lies in the text: [begin, end).
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// The name or text that a raw JSON string begins, up to its closing quote, when it is
// written without an escape. simdjson has checked the whole text's UTF-8 and refused a
// control character inside a string.
std::optional<std::string_view> plain_text(std::string_view held, ondemand::raw_json_string raw) {
  const std::size_t begin = static_cast<std::size_t>(raw.raw() - held.data());
  const std::size_t end = held.find('"', begin);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view text = held.substr(begin, end - begin);
  if (text.find('\\') != std::string_view::npos) return std::nullopt;
  return text;
}

// The members of the object `value` kept where they lie, and the object's place; nothing
// when one of them is not a plain text.
std::optional<Span> keep_plain_members(std::string_view held, ondemand::document& document, ondemand::value& value,
                                       TextMembers& members) {
  const std::string_view token = value.raw_json_token();
  ondemand::object object;
  if (value.get_object().get(object)) return std::nullopt;
  for (auto member : object) {
    ondemand::field field;
    ondemand::raw_json_string text;
    if (std::move(member).get(field) || field.value().get_raw_json_string().get(text)) return std::nullopt;
    const std::optional<std::string_view> plain_name = plain_text(held, field.key());
    const std::optional<std::string_view> plain_value = plain_text(held, text);
    if (!plain_name || !plain_value) return std::nullopt;
    members.add_held(*plain_name, *plain_value);
  }
  // The parser stands on what follows the object: its closing brace is the last
  // character before that, spaces aside.
  const char* next = nullptr;
  if (document.current_location().get(next)) return std::nullopt;
  const auto begin = static_cast<std::size_t>(token.data() - held.data());
  std::size_t end = static_cast<std::size_t>(next - held.data());
  while (end > begin + 1 && std::string_view(" \t\n\r").find(held[end - 1]) != std::string_view::npos) --end;
  if (end <= begin + 1 || held[end - 1] != '}') return std::nullopt;
  return Span{begin, end};
}

// The quick way; nothing when the text is not as records are written.
std::optional<ordered_json> read_plain(std::string_view held, std::size_t room, std::string_view name,
                                       TextMembers& members) {
  ondemand::parser parser;
  ondemand::document document;
  ondemand::object top;
  if (parser.iterate(simdjson::padded_string_view(held.data(), held.size(), room)).get(document) ||
      document.get_object().get(top)) {
    return std::nullopt;
  }
  bool seen = false;
  std::optional<Span> span;
  for (auto member : top) {
    ondemand::field field;
    if (std::move(member).get(field)) return std::nullopt;
    // An escaped name may spell `name`: parse_json decides.
    const std::optional<std::string_view> key = plain_text(held, field.key());
    if (!key) return std::nullopt;
    if (*key != name) continue;
    if (seen) return std::nullopt;  // given twice: the last one counts, the long way
    seen = true;
    ondemand::json_type type;
    if (field.value().type().get(type)) return std::nullopt;
    if (type != ondemand::json_type::object) continue;
    span = keep_plain_members(held, document, field.value(), members);
    if (!span) return std::nullopt;
  }
  // The rest is read around an empty object in the member's place, which is what the
  // document keeps there anyway.
  std::string rest;
  if (span) {
    rest.reserve(held.size() - (span->end - span->begin) + 2);
    rest.append(held.substr(0, span->begin)).append("{}").append(held.substr(span->end));
  }
  try {
    ordered_json read = parse_json(span ? std::string_view(rest) : held);
    members.merge_repeated_names();
    return read;
  } catch (const ordered_json::exception&) {
    return std::nullopt;  // read the whole text again, whose error says where
  }
}

// The long way: the whole document, then the member taken out of it (and whatever the
// quick way had kept dropped).
ordered_json read_whole(std::string_view name, TextMembers& members) {
  ordered_json document = parse_json(members.held());
  members.clear();
  if (!document.is_object()) return document;
  const auto found = document.find(std::string(name));
  if (found == document.end() || !found->is_object()) return document;
  for (const auto& [member, value] : found->items()) {
    if (value.is_string()) {
      members.add(member, value.get_ref<const std::string&>());
    } else {
      members.add(member, std::nullopt);
    }
  }
  *found = ordered_json::object();
  return document;
}

}  // namespace

ordered_json parse_record(std::string&& text, std::string_view name, TextMembers& members) {
  // simdjson reads up to SIMDJSON_PADDING bytes past the end: the reader leaves that room
  // past a file's text, so it is taken without a copy.
  text.reserve(text.size() + simdjson::SIMDJSON_PADDING);
  members.hold(std::move(text));
  if (std::optional<ordered_json> read = read_plain(members.held(), members.held_room(), name, members)) {
    return std::move(*read);
  }
  return read_whole(name, members);
}

}  // namespace vordak
