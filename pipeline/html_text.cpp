// Escaping for the dashboard page.

#include "pipeline/html_render.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vordak::pipeline {

namespace {

// The escape that replaces the character at json[at], and how many bytes it replaces;
// an empty escape for a character kept as it is.
std::pair<std::string_view, std::size_t> script_escape(std::string_view json, std::size_t at) {
  switch (json[at]) {
    case '<': return {"\\u003c", 1};
    case '>': return {"\\u003e", 1};
    case '&': return {"\\u0026", 1};
    case '\xE2':
      if (at + 2 < json.size() && json[at + 1] == '\x80' && (json[at + 2] == '\xA8' || json[at + 2] == '\xA9')) {
        return {json[at + 2] == '\xA8' ? "\\u2028" : "\\u2029", 3};
      }
      [[fallthrough]];
    default: return {"", 1};
  }
}

}  // namespace

std::string script_safe_json(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 16);
  for (std::size_t i = 0; i < json.size();) {
    const auto [escape, replaced] = script_escape(json, i);
    if (escape.empty()) out += json[i];
    else out += escape;
    i += replaced;
  }
  return out;
}

std::size_t script_safe_size(std::string_view json) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < json.size();) {
    const auto [escape, replaced] = script_escape(json, i);
    size += escape.empty() ? 1 : escape.size();
    i += replaced;
  }
  return size;
}

}  // namespace vordak::pipeline
