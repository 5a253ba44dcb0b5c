#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

using ordered_json = nlohmann::ordered_json;

// Streaming JSON writer with the text Python's json module produces with
// ensure_ascii=False: members in the order they are written, non-ASCII text as it
// is, Python's escapes, Python's float text ("42.0", "1e+16") and the bare tokens
// NaN, Infinity and -Infinity. Two layouts: compact (no whitespace at all) and
// indented (two spaces a level, ": " after keys, "{}"/"[]" for empty containers).
// Output goes to a string, or to a file in 1 MiB chunks; no trailing line break.
class JsonWriter {
 public:
  enum class Layout { kCompact, kIndented };

  JsonWriter(std::string& out, Layout layout);
  // Writes to an open file; the caller owns it and calls flush() before closing.
  JsonWriter(std::FILE* file, Layout layout);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  // A key already written as a JSON string literal (append_json_string), for writers
  // that repeat the same keys many times.
  void quoted_key(std::string_view quoted_name);

  void null();
  void boolean(bool value);
  void integer(std::int64_t value);
  void number(double value);
  void string(std::string_view text);
  // A whole nlohmann document, in its member order.
  void value(const ordered_json& document);
  // A value given as JSON text, placed as it stands (compact text stays compact).
  void json_text(std::string_view text);

  // Sends buffered text to the file (no-op for string output). Throws on a write error.
  void flush();

 private:
  void before_value();
  void newline_indent(std::size_t depth);
  void flush_if_large();

  struct Level {
    bool is_object;
    std::size_t count = 0;
  };

  std::string own_buffer_;
  std::string& out_;
  std::FILE* file_ = nullptr;
  Layout layout_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

// Separator and indentation before a value; nothing right after a key.
inline void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (level.count++ > 0) out_.push_back(',');
  if (layout_ == Layout::kIndented) newline_indent(levels_.size());
}

// The JSON text of a document in the given layout.
std::string to_json_text(const ordered_json& document, JsonWriter::Layout layout);

// Arrays and objects nested deeper than this are refused where JSON is read: the
// library's writer and comparisons recurse once per level, and a hostile file (a
// notebook is 100 KB for 50,000 levels) would overflow the stack. Real documents go a
// few levels deep.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Parses JSON text as Python's json module does: a leading byte-order mark is an error,
// and of a member given twice the last value is kept at the first one's place. Takes
// time linear in the text, however many members an object has. Throws
// ordered_json::exception (a std::exception) on malformed input and on nesting deeper
// than kMaxJsonDepth.
ordered_json parse_json(std::string_view text);

// Appends a member the caller knows is not yet in `object`, without the linear search
// that operator[] makes in an ordered object.
void append_new_member(ordered_json& object, std::string name, ordered_json value);

// A value as Python's str() shows it in console and reason texts: text as it is,
// True/False, None, Python's number text; containers as compact JSON.
std::string python_text(const ordered_json& value);

// Appends `text` as a JSON string literal (quotes included) with Python's escapes.
void append_json_string(std::string& out, std::string_view text);

}  // namespace vordak

VORDAK_PUBLIC_END
