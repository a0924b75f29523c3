#include "common/utf8.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace profiledesk {

Utf8Piece utf8PieceAt(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;   // the bounds of the second byte rule out overlong forms,
    unsigned char high = 0xBF;  // surrogates and values beyond U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {1, false};
    }
    std::size_t valid = 1;
    for (; valid < length && valid < text.size(); ++valid) {
        const bool second = valid == 1;
        if (byte(valid) < (second ? low : 0x80) || byte(valid) > (second ? high : 0xBF)) {
            break;
        }
    }
    return {valid, valid == length};
}

std::size_t asciiPrefix(std::string_view text) {
    std::size_t at = 0;
#if defined(HAVE_SSE2)
    // Sixty-four bytes a step: every record is read through here once, and most are ASCII.
    constexpr std::size_t kStep = 64;
    for (; at + kStep <= text.size(); at += kStep) {
        const auto block = [&](std::size_t from) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at + from));
        };
        const __m128i any =
            _mm_or_si128(_mm_or_si128(block(0), block(16)), _mm_or_si128(block(32), block(48)));
        if (_mm_movemask_epi8(any) != 0) {
            break;
        }
    }
#else
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    constexpr std::size_t kWord = sizeof(std::uint64_t);
    // Four words at a time and no early exit inside, so that the compiler can use vectors.
    for (; at + 4 * kWord <= text.size(); at += 4 * kWord) {
        std::array<std::uint64_t, 4> words{};
        std::memcpy(words.data(), text.data() + at, sizeof(words));
        if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) != 0) {
            break;
        }
    }
#endif
    while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) {
        ++at;
    }
    return at;
}

bool isUtf8(std::string_view text) {
    while (!text.empty()) {
        text.remove_prefix(asciiPrefix(text));
        if (text.empty()) {
            break;
        }
        const Utf8Piece piece = utf8PieceAt(text);
        if (!piece.whole) {
            return false;
        }
        text.remove_prefix(piece.length);
    }
    return true;
}

}  // namespace profiledesk
