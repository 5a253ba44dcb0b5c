// Registry consistency check against the installed notebooks and the header notebook.

#include "motor/consistency.h"

#include <filesystem>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/bad_notebook.h"
#include "motor/notebook_check.h"
#include "motor/paths.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

namespace fs = std::filesystem;

// The header is a notebook we generate: its version digits are ASCII. A key is a run of
// ASCII letters, digits and underscores or of any other letter: every code point past
// ASCII counts as one except the Unicode blanks, so that a hand-edited key such as
// `çalış` is still read (and reported) as a key.
bool is_ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool is_blank(char32_t c) {
  switch (c) {
    case U' ': case U'\u0085': case U'\u00a0': case U'\u1680': case U'\u2028': case U'\u2029':
    case U'\u202f': case U'\u205f': case U'\u3000':
      return true;
    default:
      return (c >= U'\t' && c <= U'\r') || (c >= U'\u2000' && c <= U'\u200a');
  }
}
bool is_key_char(char32_t c) {
  if (c >= 0x80) return !is_blank(c);
  return is_ascii_digit(c) || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_';
}

// Index past a run of at least one character of the class starting at `i`, or `i` when none.
template <typename Predicate>
std::size_t skip_run(const std::u32string& text, std::size_t i, Predicate in_class) {
  while (i < text.size() && in_class(text[i])) ++i;
  return i;
}

fs::path notebooks_dir() {
  try {
    return paths::get_notebooks_dir();
  } catch (const std::exception&) {
    return paths::library_dir() / "data";
  }
}

// Concatenated source of a cell: a list of texts or one text; missing is empty.
std::string cell_source(const ordered_json& cell) {
  const auto source = cell.find("source");
  if (source == cell.end() || source->is_null()) return "";
  if (source->is_string()) return source->get<std::string>();
  std::string text;
  for (const auto& line : *source) text += line.get<std::string>();
  return text;
}

std::string header_text_of(const fs::path& notebook_path, Env& env) {
  const std::string raw = env.read_file(notebook_path);
  if (!is_valid_utf8(raw)) throw BadNotebook("'utf-8' codec can't decode " + notebook_path.string(), notebook_path);
  const ordered_json notebook = parse_json(raw);
  for (const auto& cell : notebook.at("cells")) {
    if (!cell.is_object()) throw BadNotebook("hücre bir nesne değil", notebook_path);
    const auto type = cell.find("cell_type");
    if (type == cell.end() || *type != "markdown") continue;
    std::string text = cell_source(cell);
    if (text.find("Motor Orchestrator") != std::string::npos) return text;
  }
  return "";
}

std::vector<std::string> sorted_difference(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::vector<std::string> out;
  for (const std::string& key : a) {
    if (!b.contains(key)) out.push_back(key);
  }
  return out;  // std::set iterates in ascending order of bytes, which for UTF-8 is code point order
}

}  // namespace

std::optional<std::string> header_version(const std::string& header_text) {
  const std::u32string text = decode_utf8(header_text);
  for (std::size_t v = 0; v < text.size(); ++v) {
    if (text[v] != U'v') continue;
    std::size_t i = v + 1;
    bool matched = true;
    for (int part = 0; part < 3 && matched; ++part) {
      if (part > 0) {
        if (i >= text.size() || text[i] != U'.') matched = false;
        ++i;
      }
      const std::size_t end = skip_run(text, i, is_ascii_digit);
      if (end == i) matched = false;
      i = end;
    }
    if (matched) return encode_utf8(text.substr(v + 1, i - v - 1));
  }
  return std::nullopt;
}

std::set<std::string> header_table_keys(const std::string& header_text) {
  const std::u32string text = decode_utf8(header_text);
  std::set<std::string> keys;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == U'`') {
      const std::size_t word_end = skip_run(text, i + 1, is_key_char);
      if (word_end > i + 1 && word_end < text.size() && text[word_end] == U'`') {
        const std::size_t bar = skip_run(text, word_end + 1, is_blank);
        if (bar < text.size() && text[bar] == U'|') {
          keys.insert(encode_utf8(text.substr(i + 1, word_end - i - 1)));
          i = bar + 1;
          continue;
        }
      }
    }
    ++i;
  }
  return keys;
}

std::vector<std::string> tutarlilik_kontrol(Env& env, const std::string& pipeline_ipynb,
                                            const std::optional<fs::path>& installed_dir) {
  std::vector<std::string> problems;
  const fs::path nb_dir = installed_dir.value_or(notebooks_dir());

  std::set<std::string> seen;
  for (const StepDefinition& step : step_table()) {
    const std::string& kod = step.kod;
    if (!seen.insert(step.nb).second) continue;
    const fs::path path = nb_dir / step.nb;
    if (!env.exists(path)) {
      problems.push_back("[EKSIK NB] " + kod + ": " + step.nb + " → " + path.string() + " bulunamadı");
      continue;
    }
    try {
      check_notebook(path, env);
    } catch (const std::runtime_error& failure) {
      problems.push_back("[NB HATALI] " + kod + ": " + failure.what());
    }
  }

  fs::path header_path = pipeline_ipynb;
  if (!env.exists(header_path)) header_path = nb_dir / pipeline_ipynb;
  if (!env.exists(header_path)) {
    problems.push_back("[PPLN YOK] " + pipeline_ipynb + " bulunamadı");
    return problems;
  }

  try {
    const std::string header = header_text_of(header_path, env);
    if (header.empty()) {
      problems.push_back("[PPLN HEADER] Motor Orchestrator başlığı bulunamadı");
      return problems;
    }
    if (const std::optional<std::string> version = header_version(header)) {
      if (*version != kVersion) problems.push_back("[VERSİYON] pipeline header v" + *version + " != paket v" + kVersion);
    } else {
      problems.push_back("[VERSİYON] pipeline header'da versiyon bulunamadı");
    }
    const std::vector<std::string> registry = step_keys();
    const std::set<std::string> registry_set(registry.begin(), registry.end());
    const std::set<std::string> table = header_table_keys(header);
    if (const auto missing = sorted_difference(registry_set, table); !missing.empty()) {
      problems.push_back("[TABLO EKSİK] Registry'de var, header tablosunda yok: " + python_list_text(missing));
    }
    if (const auto extra = sorted_difference(table, registry_set); !extra.empty()) {
      problems.push_back("[TABLO FAZLA] Header tablosunda var, registry'de yok: " + python_list_text(extra));
    }
  } catch (const std::exception& failure) {
    problems.push_back(std::string("[PPLN PARSE] ") + failure.what());
  }
  return problems;
}

}  // namespace vordak::motor
