// Escaping for the dashboard page and the reader of the branch-region CSV.

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

std::vector<std::vector<std::string>> parse_csv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, field_started = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      field_started = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      field_started = true;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      record.push_back(std::move(field));
      records.push_back(std::move(record));
      field.clear();
      record.clear();
      field_started = false;
    } else {
      field += c;
      field_started = true;
    }
  }
  if (field_started || !record.empty()) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace vordak::pipeline
