#pragma once

// A dashboard page's embedded data and its data files, read back as the page reads them.

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <filesystem>
#include <regex>
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

// The payload of a data script: its text decoded and decompressed. Fails the test when
// it is not a data script of that name.
inline std::string script_payload(const std::string& script, const std::string& name) {
  std::smatch match;
  EXPECT_TRUE(std::regex_match(script, match, std::regex("vrdVeri\\(\"([^\"]*)\",\"([A-Za-z0-9+/=]*)\"\\);\n")));
  EXPECT_EQ(match[1].str(), name);
  const std::string packed = base64_decoded(match[2].str());
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  std::string out(64 << 20, '\0');
  std::size_t size = 0;
  const auto result = libdeflate_gzip_decompress(decompressor, packed.data(), packed.size(), out.data(), out.size(), &size);
  libdeflate_free_decompressor(decompressor);
  EXPECT_EQ(result, LIBDEFLATE_SUCCESS) << name;
  out.resize(size);
  return out;
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
