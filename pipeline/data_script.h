#pragma once

// The data files beside a dashboard page. A page opened from disk may run a script from
// its folder (<script src>) but may not read any other file (fetch() is refused there),
// so each data file is a script: one call of the page's vrdVeri(name, value), value
// being a JSON document (which is JavaScript too) or, for binary data, a Base64 string.

#include <string>
#include <string_view>

namespace vordak::pipeline {

// `bytes` in Base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

// The script of a data file holding the JSON text `json`: vrdVeri("name",<json>);
// `name` must be plain ASCII letters, digits, "-" and "_".
std::string data_script(std::string_view name, std::string_view json);

// The script of a data file holding `bytes`: vrdVeri("name","<Base64>");
std::string binary_data_script(std::string_view name, std::string_view bytes);

}  // namespace vordak::pipeline
