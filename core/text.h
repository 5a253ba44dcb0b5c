#pragma once

#include <string>
#include <string_view>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// Number of Unicode characters in UTF-8 text (continuation bytes are not counted).
std::size_t utf8_length(std::string_view text);

// The first `count` characters of UTF-8 text (whole characters, never a cut byte sequence).
std::string utf8_prefix(std::string_view text, std::size_t count);

// Pads with spaces to `width` characters; longer text is left as it is.
std::string pad_right(std::string_view text, std::size_t width);
std::string pad_left(std::string_view text, std::size_t width);

// Removes surrounding white space (ASCII white space, as the tools' output uses).
std::string strip(std::string_view text);

// Case mapping for ASCII and the Turkish letters; other characters pass unchanged.
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

// True when `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// UTF-8 text decoded to code points. Every byte that does not start a well-formed
// sequence (a stray continuation byte, a cut or overlong sequence, a surrogate, a code
// point beyond U+10FFFF) becomes one U+FFFD, and decoding goes on at the next byte.
std::u32string decode_utf8(std::string_view text);
// Code points encoded as UTF-8; a surrogate or a value beyond U+10FFFF, which UTF-8
// cannot carry, is encoded as U+FFFD.
std::string encode_utf8(std::u32string_view text);

// Text safe to show on a terminal: control characters other than line break and tab
// (ESC among them, which would let a file name or a step key drive the terminal) are
// written out as \xNN, and C1 controls as \u00NN.
std::string terminal_safe(std::string_view text);

// Joins the items with `separator` between them.
std::string join(const std::vector<std::string>& items, std::string_view separator);

// The list as Python prints a list of texts: ['a', 'b'] ([] when empty).
std::string python_list_text(const std::vector<std::string>& items);

// Text made safe as HTML element content or attribute value.
std::string html_escape(std::string_view text);

}  // namespace vordak

VORDAK_PUBLIC_END
