#pragma once

// The fixed parts of the dashboard page: style sheet and the script that draws the
// firm table and the edition's extra data from the embedded VRD object.

#include <string_view>

namespace vordak::pipeline {

extern const std::string_view kDashboardStyle;
extern const std::string_view kDashboardScript;

}  // namespace vordak::pipeline
