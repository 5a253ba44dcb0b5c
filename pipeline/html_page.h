#pragma once

// The fixed parts of the dashboard page, kept as plain files in pipeline/dashboard/
// (page.html, page.css and the scripts) and compiled in when the build is configured.
// The template holds "{{NAME}}" tokens that render_html fills.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vordak::pipeline {

extern const std::string_view kDashboardTemplate;  // page.html
extern const std::string_view kDashboardStyle;     // page.css
extern const std::string_view kDashboardScript;    // the scripts, in load order

// `page` with every "{{NAME}}" token of `values` replaced by its value, in one pass:
// inserted values are never scanned for tokens. Unknown tokens stay as they are.
std::string fill_template(std::string_view page, const std::vector<std::pair<std::string_view, std::string_view>>& values);

}  // namespace vordak::pipeline
