#include "pipeline/html_page.h"

namespace vordak::pipeline {

std::string fill_template(std::string_view page, const std::vector<std::pair<std::string_view, std::string_view>>& values) {
  std::string out;
  out.reserve(page.size());
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t open = page.find("{{", at);
    if (open == std::string_view::npos) break;
    const std::size_t close = page.find("}}", open + 2);
    if (close == std::string_view::npos) break;
    const std::string_view name = page.substr(open + 2, close - open - 2);
    out.append(page.substr(at, open - at));
    bool known = false;
    for (const auto& [key, value] : values) {
      if (key == name) {
        out.append(value);
        known = true;
        break;
      }
    }
    if (!known) out.append(page.substr(open, close + 2 - open));
    at = close + 2;
  }
  out.append(page.substr(at));
  return out;
}

}  // namespace vordak::pipeline
