// Escaping for the dashboard page.

#include "pipeline/html_render.h"

#include <string>
#include <string_view>
#include <vector>

namespace vordak::pipeline {

std::string script_safe_json(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 16);
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '<') out += "\\u003c";
    else if (c == '>') out += "\\u003e";
    else if (c == '&') out += "\\u0026";
    else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
      out += json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace vordak::pipeline
