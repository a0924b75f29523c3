#pragma once

// The byte compares under the record matchers: white space, equal runs of bytes, and the high
// bits of what was looked at. With HAVE_SSE2 (set for the record library's sources, or for
// none of them, in CMakeLists.txt) sixteen bytes a step; otherwise plain C++ a word or a byte
// at a time. Inline, as they run for every fixed text of every line.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace profiledesk::bytes {

// The white space that ends a typed word: what the C locale's isspace takes.
inline constexpr std::array<bool, 256> kBlank = [] {
    std::array<bool, 256> blank{};
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        blank.at(static_cast<unsigned char>(c)) = true;
    }
    return blank;
}();
inline bool isBlank(char c) { return kBlank[static_cast<unsigned char>(c)]; }

// Whether two runs of bytes are equal. The fixed texts compared are short and many, so a few
// compares inline beat a call to memcmp; each pair of loads overlaps the one before it.
template <typename Word>
bool sameWords(const char* a, const char* b, std::size_t size) {
    const auto word = [](const char* at) {
        Word value{};
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    return word(a) == word(b) && word(a + size - sizeof(Word)) == word(b + size - sizeof(Word));
}

inline bool sameBytes(const char* a, const char* b, std::size_t size) {
#if defined(HAVE_SSE2)
    constexpr std::size_t kBlock = sizeof(__m128i);
    if (size >= kBlock) {
        const auto equal = [&](std::size_t at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)));
        };
        __m128i same = equal(size - kBlock);
        for (std::size_t at = 0; at + kBlock < size; at += kBlock) {
            same = _mm_and_si128(same, equal(at));
        }
        return _mm_movemask_epi8(same) == 0xFFFF;
    }
#endif
    if (size >= sizeof(std::uint64_t)) {
        return size <= 2 * sizeof(std::uint64_t) ? sameWords<std::uint64_t>(a, b, size)
                                                 : std::memcmp(a, b, size) == 0;
    }
    if (size >= sizeof(std::uint32_t)) {
        return sameWords<std::uint32_t>(a, b, size);
    }
    for (std::size_t at = 0; at < size; ++at) {
        if (a[at] != b[at]) {
            return false;
        }
    }
    return true;
}

// The bytes a match looked at, ORed together: the record is ASCII where no high bit is set.
struct HighBits {
#if defined(HAVE_SSE2)
    __m128i block = _mm_setzero_si128();
#endif
    unsigned char byte = 0;

    [[nodiscard]] bool any() const {
#if defined(HAVE_SSE2)
        return byte >= 0x80 || _mm_movemask_epi8(block) != 0;
#else
        return byte >= 0x80;
#endif
    }
};

// The bytes from `pos` up to the first white space, or to the end of `text`; `seen` takes
// every byte of them, and may take some after them.
inline std::size_t runWithoutBlank(std::string_view text, std::size_t pos, HighBits& seen) {
    std::size_t at = pos;
#if defined(HAVE_SSE2)
    // Sixteen bytes a step: white space is ' ' or '\t' to '\r', which less 9 are below 5.
    constexpr std::size_t kBlock = sizeof(__m128i);
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i four = _mm_set1_epi8(4);
    __m128i high = _mm_setzero_si128();  // in a register, not through `seen`, at each step
    for (; at + kBlock <= text.size(); at += kBlock) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        high = _mm_or_si128(high, bytes);
        const __m128i control = _mm_sub_epi8(bytes, tab);
        const __m128i blank =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, space), _mm_cmpeq_epi8(_mm_min_epu8(control, four), control));
        if (const int found = _mm_movemask_epi8(blank); found != 0) {
            seen.block = _mm_or_si128(seen.block, high);
            return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned int>(found))) - pos;
        }
    }
    seen.block = _mm_or_si128(seen.block, high);
#endif
    while (at < text.size() && !isBlank(text[at])) {
        seen.byte |= static_cast<unsigned char>(text[at]);
        ++at;
    }
    return at - pos;
}

}  // namespace profiledesk::bytes
