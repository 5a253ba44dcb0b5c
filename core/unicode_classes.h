#pragma once
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// Unicode character classes as regular expressions use them on text: \d (decimal
// digits of every script), \w (letters, digits, numbers and "_"), \s (white space).
bool is_unicode_digit(char32_t c);
bool is_unicode_word(char32_t c);
bool is_unicode_space(char32_t c);

}  // namespace vordak

VORDAK_PUBLIC_END
