// parse_json: our own scanner and document builder. The library's own builder finds each
// new member of an ordered object by a linear search, so an object of n members takes n²
// steps (80,000 data-source keys took 40 s); this one keeps an index of each open object's
// members. The library's lexer copies a text one character at a time, a fifth of a
// 10,000-file run's time; ours copies whole runs of plain characters. Its grammar is the
// library's, strict UTF-8 included; on any input it refuses, the library's parser runs
// instead, so that the error and its message are the library's own.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/json_writer.h"

namespace vordak {

namespace {

class OrderedBuilder {
 public:
  using number_integer_t = ordered_json::number_integer_t;
  using number_unsigned_t = ordered_json::number_unsigned_t;
  using number_float_t = ordered_json::number_float_t;
  using string_t = ordered_json::string_t;
  using binary_t = ordered_json::binary_t;

  explicit OrderedBuilder(ordered_json& root) : root_(root) {}

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  bool number_integer(number_integer_t value) { return add(value); }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t&) { return add(value); }
  bool string(string_t& value) { return add(std::move(value)); }
  bool binary(binary_t& value) { return add(ordered_json::binary(std::move(value))); }

  bool start_object(std::size_t) {
    open_.push_back({place(ordered_json::object()), {}, {}, {}});
    return true;
  }
  bool key(string_t& name) {
    open_.back().key = std::move(name);
    return true;
  }
  bool end_object() {
    // Built once at its size: growing the map itself would copy every name, which its
    // entries hold as constants and so cannot move.
    Open& open = open_.back();
    auto& entries = static_cast<Entries&>(*open.value->get_ptr<ordered_json::object_t*>());
    entries.reserve(open.members.size());
    for (auto& [name, value] : open.members) entries.emplace_back(std::move(name), std::move(value));
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    open_.push_back({place(ordered_json::array()), {}, {}, {}});
    return true;
  }
  bool end_array() {
    open_.pop_back();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    throw error;
  }

 private:
  // An object or array being filled. Pointers stay valid: only the innermost open
  // container grows, and an object's members move into it only when it closes.
  struct Open {
    ordered_json* value;
    std::vector<std::pair<std::string, ordered_json>> members;  // objects: put into `value` at the end
    std::string key;                                             // objects: the pending member
    std::vector<std::uint32_t> slots;  // objects past kIndexFrom members: position + 1 by name hash
  };
  using Members = std::vector<std::pair<std::string, ordered_json>>;

  // Below this many members a search is cheaper than an index.
  static constexpr std::size_t kIndexFrom = 16;
  using Entries = ordered_json::object_t::Container;

  bool add(ordered_json value) {
    place(std::move(value));
    return true;
  }

  static std::size_t hash_of(std::string_view name) { return std::hash<std::string_view>{}(name); }

  // The slot of `name` in the open object's index: the one holding it, or an empty one.
  static std::uint32_t* slot_of(Open& open, const Members& entries, std::string_view name) {
    const std::size_t mask = open.slots.size() - 1;
    for (std::size_t i = hash_of(name) & mask;; i = (i + 1) & mask) {
      std::uint32_t& slot = open.slots[i];
      if (slot == 0 || entries[slot - 1].first == name) return &slot;
    }
  }

  // Rebuilds the index at twice the members' count, so that it stays at most half full.
  static void reindex(Open& open, const Members& entries) {
    std::size_t size = 64;
    while (size < 4 * entries.size()) size *= 2;
    open.slots.assign(size, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) *slot_of(open, entries, entries[i].first) = static_cast<std::uint32_t>(i + 1);
  }

  // The position of the pending member's name in the open object, if it is there.
  static std::optional<std::size_t> find(Open& open, const Members& entries) {
    if (open.slots.empty()) {
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first == open.key) return i;
      }
      return std::nullopt;
    }
    const std::uint32_t slot = *slot_of(open, entries, open.key);
    return slot == 0 ? std::nullopt : std::optional<std::size_t>(slot - 1);
  }

  // Puts a value where the parser is: the root, the next element, or the pending member.
  ordered_json* place(ordered_json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Open& open = open_.back();
    if (open.value->is_array()) {
      open.value->push_back(std::move(value));
      return &open.value->back();
    }
    // Our own index says whether the name is new, so the map's own search is never needed.
    Members& entries = open.members;
    if (const std::optional<std::size_t> found = find(open, entries)) {
      entries[*found].second = std::move(value);
      return &entries[*found].second;
    }
    entries.emplace_back(std::move(open.key), std::move(value));
    if (entries.size() == kIndexFrom || (!open.slots.empty() && 2 * entries.size() > open.slots.size())) {
      reindex(open, entries);
    } else if (!open.slots.empty()) {
      *slot_of(open, entries, entries.back().first) = static_cast<std::uint32_t>(entries.size());
    }
    return &entries.back().second;
  }

  ordered_json& root_;
  std::vector<Open> open_;
};

// Reads one JSON text into a builder. False at the first thing it refuses; the builder is
// then half-filled and must be discarded.
class Scanner {
 public:
  Scanner(std::string_view text, OrderedBuilder& builder)
      : at_(text.data()), end_(text.data() + text.size()), builder_(builder) {}

  bool document() {
    skip_space();
    if (!value()) return false;
    skip_space();
    return at_ == end_;
  }

 private:
  enum class Open : char { kObject, kArray };

  // One value, containers included, without recursion: `open` holds the containers the
  // scanner is inside.
  bool value() {
    std::vector<Open> open;
    for (;;) {
      skip_space();
      if (at_ == end_) return false;
      const char c = *at_;
      if (c == '{') {
        ++at_;
        builder_.start_object(0);
        skip_space();
        if (at_ != end_ && *at_ == '}') {
          ++at_;
          builder_.end_object();
        } else {
          if (!member_name()) return false;
          open.push_back(Open::kObject);
          continue;
        }
      } else if (c == '[') {
        ++at_;
        builder_.start_array(0);
        skip_space();
        if (at_ != end_ && *at_ == ']') {
          ++at_;
          builder_.end_array();
        } else {
          open.push_back(Open::kArray);
          continue;
        }
      } else if (!scalar()) {
        return false;
      }
      // After a value: close what ends here, up to the next element or member.
      for (;;) {
        if (open.empty()) return true;
        skip_space();
        if (at_ == end_) return false;
        const bool object = open.back() == Open::kObject;
        if (*at_ == ',') {
          ++at_;
          if (object && !member_name()) return false;
          break;
        }
        if (*at_ != (object ? '}' : ']')) return false;
        ++at_;
        object ? builder_.end_object() : builder_.end_array();
        open.pop_back();
      }
    }
  }

  // `"name" :` of the next member.
  bool member_name() {
    skip_space();
    std::string name;
    if (at_ == end_ || *at_ != '"' || !string(name)) return false;
    skip_space();
    if (at_ == end_ || *at_ != ':') return false;
    ++at_;
    builder_.key(name);
    return true;
  }

  bool scalar() {
    switch (*at_) {
      case '"': {
        std::string text;
        if (!string(text)) return false;
        builder_.string(text);
        return true;
      }
      case 't': return literal("true") && builder_.boolean(true);
      case 'f': return literal("false") && builder_.boolean(false);
      case 'n': return literal("null") && builder_.null();
      default: return number();
    }
  }

  bool literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - at_) < word.size() || std::string_view(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  void skip_space() {
    while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?; whole numbers that fit are
  // integers, every other number a double, as the library reads them.
  bool number() {
    const char* start = at_;
    const bool negative = at_ != end_ && *at_ == '-';
    if (negative) ++at_;
    if (at_ == end_ || !digit(*at_)) return false;
    if (*at_++ != '0') {
      while (at_ != end_ && digit(*at_)) ++at_;
    }
    bool whole = true;
    if (at_ != end_ && *at_ == '.') {
      whole = false;
      if (++at_ == end_ || !digit(*at_)) return false;
      while (at_ != end_ && digit(*at_)) ++at_;
    }
    if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
      whole = false;
      if (++at_ != end_ && (*at_ == '+' || *at_ == '-')) ++at_;
      if (at_ == end_ || !digit(*at_)) return false;
      while (at_ != end_ && digit(*at_)) ++at_;
    }
    const std::string text(start, at_);  // the conversions below need a terminated text
    char* stop = nullptr;
    errno = 0;
    if (whole && negative) {
      const long long value = std::strtoll(text.c_str(), &stop, 10);
      if (errno == 0) return builder_.number_integer(value);
    } else if (whole) {
      const unsigned long long value = std::strtoull(text.c_str(), &stop, 10);
      if (errno == 0) return builder_.number_unsigned(value);
    }
    const double value = std::strtod(text.c_str(), &stop);
    return std::isfinite(value) && builder_.number_float(value, text);
  }

  // A string at `at_` (its opening quote) into `out`: strict UTF-8, no control characters.
  bool string(std::string& out) {
    ++at_;
    for (;;) {
      const char* run = at_;
      while (at_ != end_ && plain(static_cast<unsigned char>(*at_))) ++at_;
      out.append(run, at_);
      if (at_ == end_) return false;
      const auto c = static_cast<unsigned char>(*at_);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c == '\\') {
        if (!escape(out)) return false;
      } else if (c >= 0x80) {
        if (!multibyte(out)) return false;
      } else {
        return false;  // a control character
      }
    }
  }

  static bool plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

  bool multibyte(std::string& out) {
    const auto byte = [this](std::ptrdiff_t i) { return static_cast<unsigned char>(at_[i]); };
    const unsigned char lead = byte(0);
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the range of the second byte; the others are 80-BF
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end_ - at_ < length || byte(1) < low || byte(1) > high) return false;
    for (int i = 2; i < length; ++i) {
      if (byte(i) < 0x80 || byte(i) > 0xBF) return false;
    }
    out.append(at_, static_cast<std::size_t>(length));
    at_ += length;
    return true;
  }

  bool escape(std::string& out) {
    if (++at_ == end_) return false;
    const char c = *at_++;
    switch (c) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    std::uint32_t code = 0;
    if (!hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;  // a low surrogate first
    if (code >= 0xD800 && code <= 0xDBFF) {
      std::uint32_t low = 0;
      if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') return false;
      at_ += 2;
      if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code);
    return true;
  }

  bool hex4(std::uint32_t& code) {
    if (end_ - at_ < 4) return false;
    for (int i = 0; i < 4; ++i) {
      const char c = *at_++;
      std::uint32_t nibble = 0;
      if (digit(c)) {
        nibble = static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        nibble = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        nibble = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
      code = code << 4 | nibble;
    }
    return true;
  }

  static void append_utf8(std::string& out, std::uint32_t code) {
    const auto put = [&out](std::uint32_t bits) { out += static_cast<char>(bits); };
    if (code < 0x80) {
      put(code);
    } else if (code < 0x800) {
      put(0xC0 | code >> 6);
      put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      put(0xE0 | code >> 12);
      put(0x80 | (code >> 6 & 0x3F));
      put(0x80 | (code & 0x3F));
    } else {
      put(0xF0 | code >> 18);
      put(0x80 | (code >> 12 & 0x3F));
      put(0x80 | (code >> 6 & 0x3F));
      put(0x80 | (code & 0x3F));
    }
  }

  const char* at_;
  const char* end_;
  OrderedBuilder& builder_;
};

}  // namespace

void append_new_member(ordered_json& object, std::string name, ordered_json value) {
  if (object.is_null()) object = ordered_json::object();
  auto& entries = static_cast<ordered_json::object_t::Container&>(*object.get_ptr<ordered_json::object_t*>());
  entries.emplace_back(std::move(name), std::move(value));
}

ordered_json parse_json(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    throw ordered_json::parse_error::create(101, 0, "Unexpected UTF-8 BOM", nullptr);
  }
  ordered_json document;
  {
    OrderedBuilder builder(document);
    if (Scanner(text, builder).document()) return document;
  }
  // Refused: the library's parser says why, in its own words.
  ordered_json checked;
  OrderedBuilder builder(checked);
  ordered_json::sax_parse(text.begin(), text.end(), &builder);
  return checked;
}

}  // namespace vordak
