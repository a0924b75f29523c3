#pragma once

#include <cstddef>
#include <string_view>

namespace profiledesk::office {

// The length of the well-formed UTF-8 character at the start of `text` (1 for ASCII), or 0
// when the bytes there are not one: a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF, or a character cut short.
std::size_t utf8CharacterLength(std::string_view text);

// Whether all of `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

}  // namespace profiledesk::office
