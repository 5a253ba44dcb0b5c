#include "core/text.h"

#include <array>
#include <cstdint>
#include <utility>

namespace vordak {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Turkish letters with a case pair; dotless ı and dotted İ map as Python maps them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kTurkishPairs{{
    {"ç", "Ç"}, {"ğ", "Ğ"}, {"ö", "Ö"}, {"ş", "Ş"}, {"ü", "Ü"}, {"ı", "I"},
}};

}  // namespace

std::size_t utf8_length(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += is_continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return count;
}

std::string utf8_prefix(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!is_continuation(static_cast<unsigned char>(text[i]))) {
      if (seen == count) return std::string(text.substr(0, i));
      ++seen;
    }
  }
  return std::string(text);
}

std::string pad_right(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t length = utf8_length(text);
  if (length < width) out.append(width - length, ' ');
  return out;
}

std::string pad_left(std::string_view text, std::size_t width) {
  const std::size_t length = utf8_length(text);
  std::string out = length < width ? std::string(width - length, ' ') : std::string();
  out += text;
  return out;
}

std::string strip(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && is_space(text[begin])) ++begin;
  while (end > begin && is_space(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
      ++i;
      continue;
    }
    bool mapped = false;
    if (text.substr(i).starts_with("İ")) {
      out += "i̇";  // i followed by a combining dot, as Python lowers it
      i += std::string_view("İ").size();
      continue;
    }
    for (const auto& [lower, upper] : kTurkishPairs) {
      if (upper != "I" && text.substr(i).starts_with(upper)) {
        out += lower;
        i += upper.size();
        mapped = true;
        break;
      }
    }
    if (!mapped) out += text[i++];
  }
  return out;
}

std::string to_upper(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
      ++i;
      continue;
    }
    bool mapped = false;
    for (const auto& [lower, upper] : kTurkishPairs) {
      if (text.substr(i).starts_with(lower)) {
        out += upper;
        i += lower.size();
        mapped = true;
        break;
      }
    }
    if (!mapped) out += text[i++];
  }
  return out;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    std::uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (!is_continuation(next)) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::u32string decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4 || !is_valid_utf8(text.substr(i, extra + 1))) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    char32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out += code;
    i += extra + 1;
  }
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = U'\uFFFD';
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

std::string python_list_text(const std::vector<std::string>& items) {
  std::vector<std::string> quoted;
  quoted.reserve(items.size());
  for (const auto& item : items) quoted.push_back("'" + item + "'");
  return "[" + join(quoted, ", ") + "]";
}

std::string terminal_safe(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      const auto code = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 0xF];
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace vordak
