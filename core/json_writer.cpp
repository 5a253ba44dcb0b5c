#include "core/json_writer.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "core/number_text.h"

namespace vordak {

namespace {
constexpr std::size_t kFlushThreshold = 1 << 20;
}

JsonWriter::JsonWriter(std::string& out, Layout layout) : out_(out), layout_(layout) {}

JsonWriter::JsonWriter(std::FILE* file, Layout layout) : out_(own_buffer_), file_(file), layout_(layout) {
  own_buffer_.reserve(kFlushThreshold + 4096);
}

JsonWriter::~JsonWriter() = default;

void JsonWriter::newline_indent(std::size_t depth) {
  out_ += '\n';
  out_.append(depth * 2, ' ');
}

void JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  levels_.push_back({true});
}

void JsonWriter::end_object() {
  const bool had_members = levels_.back().count > 0;
  levels_.pop_back();
  if (had_members && layout_ == Layout::kIndented) newline_indent(levels_.size());
  out_ += '}';
  flush_if_large();
}

void JsonWriter::begin_array() {
  before_value();
  out_ += '[';
  levels_.push_back({false});
}

void JsonWriter::end_array() {
  const bool had_elements = levels_.back().count > 0;
  levels_.pop_back();
  if (had_elements && layout_ == Layout::kIndented) newline_indent(levels_.size());
  out_ += ']';
  flush_if_large();
}

void JsonWriter::key(std::string_view name) {
  before_value();
  append_json_string(out_, name);
  out_ += layout_ == Layout::kIndented ? ": " : ":";
  after_key_ = true;
}

void JsonWriter::quoted_key(std::string_view quoted_name) {
  before_value();
  out_.append(quoted_name.data(), quoted_name.size());
  if (layout_ == Layout::kIndented) out_.append(": ", 2);
  else out_.push_back(':');
  after_key_ = true;
}

void JsonWriter::json_text(std::string_view text) {
  before_value();
  out_.append(text.data(), text.size());
  flush_if_large();
}

void JsonWriter::null() {
  before_value();
  out_.append("null", 4);
}

void JsonWriter::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
}

void JsonWriter::integer(std::int64_t value) {
  before_value();
  char buffer[24];
  out_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void JsonWriter::number(double value) {
  before_value();
  if (std::isnan(value)) {
    out_ += "NaN";
  } else if (std::isinf(value)) {
    out_ += value > 0 ? "Infinity" : "-Infinity";
  } else {
    char buffer[kFloatTextSize];
    out_.append(buffer, write_python_float(buffer, value));
  }
}

void JsonWriter::string(std::string_view text) {
  before_value();
  append_json_string(out_, text);
}

void JsonWriter::value(const ordered_json& document) {
  switch (document.type()) {
    case ordered_json::value_t::object:
      begin_object();
      for (const auto& [name, member] : document.items()) {
        key(name);
        value(member);
      }
      end_object();
      break;
    case ordered_json::value_t::array:
      begin_array();
      for (const auto& element : document) value(element);
      end_array();
      break;
    case ordered_json::value_t::string:
      string(document.get_ref<const std::string&>());
      break;
    case ordered_json::value_t::boolean:
      boolean(document.get<bool>());
      break;
    case ordered_json::value_t::number_integer:
      integer(document.get<std::int64_t>());
      break;
    case ordered_json::value_t::number_unsigned: {
      before_value();
      out_ += std::to_string(document.get<std::uint64_t>());
      break;
    }
    case ordered_json::value_t::number_float:
      number(document.get<double>());
      break;
    case ordered_json::value_t::binary:
    case ordered_json::value_t::discarded:
    case ordered_json::value_t::null:
      null();
      break;
  }
}

void JsonWriter::flush_if_large() {
  if (file_ != nullptr && own_buffer_.size() >= kFlushThreshold) flush();
}

void JsonWriter::flush() {
  if (file_ == nullptr || own_buffer_.empty()) return;
  if (std::fwrite(own_buffer_.data(), 1, own_buffer_.size(), file_) != own_buffer_.size()) {
    throw std::runtime_error("JSON yazılamadı: disk yazma hatası");
  }
  own_buffer_.clear();
}

std::string to_json_text(const ordered_json& document, JsonWriter::Layout layout) {
  std::string text;
  JsonWriter writer(text, layout);
  writer.value(document);
  return text;
}

std::string python_text(const ordered_json& value) {
  switch (value.type()) {
    case ordered_json::value_t::string: return value.get<std::string>();
    case ordered_json::value_t::boolean: return value.get<bool>() ? "True" : "False";
    case ordered_json::value_t::null: return "None";
    case ordered_json::value_t::number_float: return python_float_repr(value.get<double>());
    default: return to_json_text(value, JsonWriter::Layout::kCompact);
  }
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run_start, i - run_start);
    run_start = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out += '"';
}

}  // namespace vordak
