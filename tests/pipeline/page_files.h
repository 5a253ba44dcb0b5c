#pragma once

// A dashboard page's embedded data and its data files, read back as the page reads them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/json_writer.h"
#include "test_support.h"

namespace vordak::pipeline::testing {

// The JSON document a page embeds for its script.
inline ordered_json page_data(const std::string& page) {
  const std::string open = "<script id=\"vrd-data\" type=\"application/json\">";
  const std::size_t begin = page.find(open);
  EXPECT_NE(begin, std::string::npos);
  const std::size_t end = page.find("</script>", begin);
  return ordered_json::parse(page.substr(begin + open.size(), end - begin - open.size()));
}

inline std::string base64_decoded(const std::string& text) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    value = value << 6 | static_cast<unsigned>(kDigits.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>(value >> bits & 0xFF);
    }
  }
  return out;
}

// The value a data script hands the page: vrdVeri("name",<value>); fails the test when it
// is not a data script of that name. A binary file's value is its bytes in Base64.
inline std::string script_payload(const std::string& script, const std::string& name) {
  const std::string prefix = "vrdVeri(\"" + name + "\",";
  EXPECT_TRUE(script.starts_with(prefix) && script.ends_with(");\n")) << name;
  if (!script.starts_with(prefix) || !script.ends_with(");\n")) return "null";
  return script.substr(prefix.size(), script.size() - prefix.size() - 3);
}

// The payload of data file `name` of the page at `html`.
inline std::string data_file(const std::filesystem::path& html, const std::string& name) {
  const ordered_json data = page_data(vordak::testing::read_text(html));
  return script_payload(
      vordak::testing::read_text(html.parent_path() / data["veri"]["klasor"].get<std::string>() / (name + ".js")), name);
}

inline ordered_json data_json(const std::filesystem::path& html, const std::string& name) {
  return ordered_json::parse(data_file(html, name));
}

}  // namespace vordak::pipeline::testing
