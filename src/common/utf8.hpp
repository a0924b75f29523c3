#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace profiledesk {

// U+FFFD, the character that stands for bytes that are not one.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// How many bytes `text` starts with that are ASCII (below 0x80): all of it for plain text.
// Many bytes are looked at a time, as records are mostly ASCII.
std::size_t asciiPrefix(std::string_view text);

inline bool isAscii(std::string_view text) { return asciiPrefix(text) == text.size(); }

// Whether all of `text` is well-formed UTF-8: no stray continuation byte, overlong form,
// surrogate, value past U+10FFFF, or character cut short.
bool isUtf8(std::string_view text);

// What replaceNotUtf8 replaced.
struct Replaced {
    bool notUtf8 = false;   // bytes that are not UTF-8
    bool unwanted = false;  // characters the caller refused
};

// The character at the start of `text`, or where there is none, the bytes that one U+FFFD
// stands for: the well-formed start of a character cut short, or else a single byte.
struct Utf8Piece {
    std::size_t length = 0;
    bool whole = false;  // a well-formed character
};
Utf8Piece utf8PieceAt(std::string_view text);

// Appends `text` to `out` with U+FFFD for each piece that is not a character (as Unicode
// recommends, and browsers do) and for each character `unwanted` refuses. With
// `keepNotUtf8`, only the refused characters are replaced: the database or page takes any
// other bytes. A template, so that the check of each byte costs no call.
template <typename Unwanted>
Replaced replaceNotUtf8(std::string& out, std::string_view text, Unwanted unwanted,
                        bool keepNotUtf8 = false) {
    Replaced replaced;
    std::size_t plain = 0;  // bytes from here on are appended as they are
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Piece piece =
            static_cast<unsigned char>(text[at]) < 0x80 ? Utf8Piece{1, true} : utf8PieceAt(text.substr(at));
        const bool broken = !piece.whole && !keepNotUtf8;
        const bool refused = piece.whole && unwanted(text.substr(at, piece.length));
        if (broken || refused) {
            out.append(text.substr(plain, at - plain)).append(kReplacementCharacter);
            replaced.notUtf8 = replaced.notUtf8 || broken;
            replaced.unwanted = replaced.unwanted || refused;
            plain = at + piece.length;
        }
        at += piece.length;
    }
    out.append(text.substr(plain));
    return replaced;
}

inline Replaced replaceNotUtf8(std::string& out, std::string_view text) {
    return replaceNotUtf8(out, text, [](std::string_view /*character*/) { return false; });
}

}  // namespace profiledesk
