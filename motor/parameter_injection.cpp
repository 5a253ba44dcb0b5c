#include "motor/parameter_injection.h"

#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>

#include "core/io_error.h"
#include "motor/bad_notebook.h"

namespace vordak::motor {

namespace {

// Length of the well-formed UTF-8 sequence starting at text[i], or 0 when the bytes
// there are not one (stray continuation, overlong form, surrogate, beyond U+10FFFF,
// truncated). Stores the code point in `code`.
std::size_t utf8_sequence(std::string_view text, std::size_t i, char32_t& code) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void append_escape(std::string& out, const char* format, unsigned value) {
  char buffer[12];
  std::snprintf(buffer, sizeof buffer, format, value);
  out += buffer;
}

std::string python_string_literal(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      switch (lead) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (lead < 0x20 || lead == 0x7F) {
            append_escape(out, "\\x%02x", lead);
          } else {
            out += static_cast<char>(lead);
          }
      }
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8_sequence(text, i, code);
    if (length == 0) {
      // Python's surrogateescape form of an undecodable byte.
      append_escape(out, "\\udc%02x", lead);
      ++i;
      continue;
    }
    // C1 controls and the Unicode line separators: line breaks to some of the tools
    // that split cell sources, so they never appear raw.
    if (code <= 0x9F) {
      append_escape(out, "\\x%02x", static_cast<unsigned>(code));
    } else if (code == 0x2028 || code == 0x2029) {
      append_escape(out, "\\u%04x", static_cast<unsigned>(code));
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  out += '"';
  return out;
}

bool is_python_identifier(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

bool has_tag(const ordered_json& cell, std::string_view tag) {
  if (!cell.is_object()) return false;
  const auto metadata = cell.find("metadata");
  if (metadata == cell.end() || !metadata->is_object()) return false;
  const auto tags = metadata->find("tags");
  if (tags == metadata->end() || !tags->is_array()) return false;
  for (const auto& entry : *tags) {
    if (entry.is_string() && entry.get_ref<const std::string&>() == tag) return true;
  }
  return false;
}

// A source text as nbformat stores it: a list of lines, each keeping its line break.
ordered_json source_lines(std::string_view source) {
  ordered_json lines = ordered_json::array();
  std::size_t start = 0;
  while (start < source.size()) {
    std::size_t end = source.find('\n', start);
    end = end == std::string_view::npos ? source.size() : end + 1;
    lines.push_back(std::string(source.substr(start, end - start)));
    start = end;
  }
  return lines;
}

// A cell id as nbformat makes them (eight hex digits), unused in this notebook.
std::string new_cell_id(const ordered_json& cells) {
  std::set<std::string> taken;
  for (const auto& cell : cells) {
    if (cell.is_object() && cell.contains("id") && cell["id"].is_string()) taken.insert(cell["id"].get<std::string>());
  }
  std::random_device entropy;
  std::mt19937 generator(entropy());
  for (;;) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(generator()));
    if (!taken.count(buffer)) return buffer;
  }
}

}  // namespace

std::string python_literal(const ParamValue& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  return python_string_literal(std::get<std::string>(value));
}

std::string parameters_source(const NotebookParams& parameters) {
  std::string source = "# Parameters\n";
  for (const auto& [name, value] : parameters) {
    if (!is_python_identifier(name)) {
      throw std::invalid_argument("geçersiz notebook parametre adı: \"" + name + "\"");
    }
    source += name + " = " + python_literal(value) + "\n";
  }
  return source;
}

void inject_parameters(ordered_json& notebook, const NotebookParams& parameters) {
  if (!notebook.is_object()) throw BadNotebook("notebook değil: JSON nesnesi bekleniyor", {});
  const auto format = notebook.find("nbformat");
  if (format == notebook.end() || !format->is_number_integer() || format->get<int>() != 4) {
    throw BadNotebook("desteklenmeyen notebook biçimi (nbformat 4 bekleniyor)", {});
  }
  if (!notebook.contains("cells") || !notebook["cells"].is_array()) {
    throw BadNotebook("notebook değil: \"cells\" listesi yok", {});
  }
  ordered_json& cells = notebook["cells"];

  ordered_json cell = ordered_json::object();
  cell["cell_type"] = "code";
  cell["execution_count"] = nullptr;
  const auto minor = notebook.find("nbformat_minor");
  if (minor != notebook.end() && minor->is_number_integer() && minor->get<int>() >= 5) {
    cell["id"] = new_cell_id(cells);
  }
  cell["metadata"] = {{"tags", ordered_json::array({kInjectedParametersTag})}};
  cell["outputs"] = ordered_json::array();
  cell["source"] = source_lines(parameters_source(parameters));

  std::size_t position = 0;
  bool replaced = false;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (has_tag(cells[i], kInjectedParametersTag)) {
      cells.erase(cells.begin() + static_cast<std::ptrdiff_t>(i));
      position = i;
      replaced = true;
      break;
    }
  }
  if (!replaced) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (has_tag(cells[i], kParametersTag)) {
        position = i + 1;
        break;
      }
    }
  }
  cells.insert(cells.begin() + static_cast<std::ptrdiff_t>(position), std::move(cell));
}

ordered_json read_notebook(const std::filesystem::path& path, Env& env) {
  const std::optional<FileStatus> status = env.status(path);
  const std::string missing = "notebook bulunamadı: " + path.string();
  if (!status) throw IoError::missing(missing, path);
  if (status->type != fs::file_type::regular) throw FileRefused(missing, path);
  const std::string text = env.read_file(path);
  try {
    return parse_json(text);
  } catch (const ordered_json::exception& error) {
    throw BadNotebook("notebook geçerli JSON değil: " + path.string() + ": " + error.what(), path);
  }
}

std::string notebook_text(const ordered_json& notebook) {
  // nlohmann's unordered json keeps its members sorted, as nbformat writes them.
  const nlohmann::json sorted = nlohmann::json::parse(notebook.dump());
  return sorted.dump(1) + "\n";
}

}  // namespace vordak::motor
