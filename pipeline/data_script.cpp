#include "pipeline/data_script.h"

namespace vordak::pipeline {

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  std::size_t at = 0;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out[at++] = kDigits[v >> 18];
    out[at++] = kDigits[v >> 12 & 63];
    out[at++] = kDigits[v >> 6 & 63];
    out[at++] = kDigits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
    out[at++] = kDigits[v >> 18];
    out[at++] = kDigits[v >> 12 & 63];
    if (two) out[at] = kDigits[v >> 6 & 63];
  }
  return out;
}

std::string data_script(std::string_view name, std::string_view json) {
  std::string script;
  script.reserve(json.size() + name.size() + 16);
  script.append("vrdVeri(\"").append(name).append("\",").append(json).append(");\n");
  return script;
}

std::string binary_data_script(std::string_view name, std::string_view bytes) {
  return data_script(name, "\"" + base64(bytes) + "\"");
}

}  // namespace vordak::pipeline
