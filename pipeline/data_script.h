#pragma once

// The data files beside a dashboard page. A page opened from disk may run a script
// from its folder (<script src>) but may not read any other file (fetch() is refused
// there), so each data file is a script: one call of the page's vrdVeri(name, text),
// text being the payload compressed with gzip and written in Base64. The page decodes
// it with the browser's own DecompressionStream.

#include <string>
#include <string_view>

namespace vordak::pipeline {

// `payload` gzip-compressed (level 1 to 12, libdeflate's scale).
std::string gzip(std::string_view payload, int level);

// `bytes` in Base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

// The script of one data file: vrdVeri("name","<Base64 of the gzipped payload>");
// `name` must be plain ASCII letters, digits, "-" and "_".
std::string data_script(std::string_view name, std::string_view payload, int level);

}  // namespace vordak::pipeline
