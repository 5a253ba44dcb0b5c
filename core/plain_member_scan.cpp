#include "core/plain_member_scan.h"

#include "core/text.h"

namespace vordak {

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::size_t at() const { return at_; }

  void skip_space() {
    while (at_ < text_.size() && is_space(text_[at_])) ++at_;
  }
  // Passes over whitespace; then takes `c` if it comes next.
  bool take(char c) {
    skip_space();
    if (at_ == text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  // A text written plainly, without its quotes: no escape, no control character, valid UTF-8.
  std::optional<std::string_view> plain_text() {
    if (!take('"')) return std::nullopt;
    const std::size_t begin = at_;
    bool ascii = true;
    for (; at_ < text_.size(); ++at_) {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') break;
      if (c == '\\' || c < 0x20) return std::nullopt;
      ascii = ascii && c < 0x80;
    }
    if (at_ == text_.size()) return std::nullopt;
    const std::string_view text = text_.substr(begin, at_++ - begin);
    if (!ascii && !is_valid_utf8(text)) return std::nullopt;
    return text;
  }

  // Passes over one value of any kind, finding only where it ends.
  bool skip_value() {
    if (take('"')) return skip_rest_of_text();
    if (at_ == text_.size()) return false;
    if (text_[at_] != '{' && text_[at_] != '[') {
      const std::size_t begin = at_;
      while (at_ < text_.size() && !is_space(text_[at_]) && text_[at_] != ',' && text_[at_] != '}' && text_[at_] != ']') {
        ++at_;
      }
      return at_ > begin;
    }
    std::size_t depth = 0;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') {
        if (!skip_rest_of_text()) return false;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if ((c == '}' || c == ']') && --depth == 0) {
        return true;
      }
    }
    return false;
  }

 private:
  static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  bool skip_rest_of_text() {
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c == '\\') ++at_;
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// An object of plain texts only, each member given to `found`.
bool read_plain_object(Scanner& scan, const PlainMember& found) {
  if (!scan.take('{')) return false;
  if (scan.take('}')) return true;
  do {
    const std::optional<std::string_view> name = scan.plain_text();
    if (!name || !scan.take(':')) return false;
    const std::optional<std::string_view> text = scan.plain_text();
    if (!text) return false;
    found(*name, *text);
  } while (scan.take(','));
  return scan.take('}');
}

}  // namespace

std::optional<MemberSpan> scan_plain_member(std::string_view text, std::string_view name, const PlainMember& found) {
  Scanner scan(text);
  if (!scan.take('{') || scan.take('}')) return std::nullopt;
  std::optional<MemberSpan> span;
  do {
    // A top-level name with an escape might spell `name`: the parser decides.
    const std::optional<std::string_view> key = scan.plain_text();
    if (!key || !scan.take(':')) return std::nullopt;
    if (*key != name) {
      if (!scan.skip_value()) return std::nullopt;
      continue;
    }
    if (span) return std::nullopt;  // given twice: the last one counts, the long way
    scan.skip_space();
    span = MemberSpan{scan.at(), 0};
    if (!read_plain_object(scan, found)) return std::nullopt;
    span->end = scan.at();
  } while (scan.take(','));
  if (!scan.take('}')) return std::nullopt;
  return span;
}

}  // namespace vordak
