// The UTF-8 check that decides which answers the office's outputs take as text: every
// ill-formed sequence is refused, at its own start and inside longer text.

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/utf8.hpp"

namespace profiledesk::office {
namespace {

struct Case {
    std::string_view bytes;
    std::size_t firstLength;  // of the character at the start; 0 when it is not one
};

TEST(Utf8Check, TakesEveryWellFormedLengthUpToItsBounds) {
    // clang-format off
    for (const Case& good : {Case{"A", 1}, Case{"\x7F", 1}, Case{"\xC2\x80", 2}, Case{"\xDF\xBF", 2},
                             Case{"\xE0\xA0\x80", 3}, Case{"\xED\x9F\xBF", 3}, Case{"\xEE\x80\x80", 3},
                             Case{"\xEF\xBF\xBF", 3}, Case{"\xF0\x90\x80\x80", 4}, Case{"\xF4\x8F\xBF\xBF", 4},
                             Case{"Caf\xC3\xA9s", 1}}) {
        // clang-format on
        const Utf8Piece first = utf8PieceAt(good.bytes);
        EXPECT_TRUE(first.whole) << ::testing::PrintToString(good.bytes);
        EXPECT_EQ(first.length, good.firstLength) << ::testing::PrintToString(good.bytes);
        EXPECT_TRUE(isUtf8(good.bytes)) << ::testing::PrintToString(good.bytes);
    }
}

TEST(Utf8Check, RefusesEveryIllFormedSequence) {
    // clang-format off
    constexpr auto kBad = std::to_array<std::string_view>({
        // overlong forms
        "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF",
        // surrogates
        "\xED\xA0\x80", "\xED\xBF\xBF",
        // above U+10FFFF, and lead bytes that could only start one
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF\xBF\xBF", "\xF8\x88\x80\x80\x80", "\xFE", "\xFF",
        // truncated
        "\xC3", "\xE2\x82", "\xF0\x9F\x98",
        // a stray or wrong continuation byte, in the second, third or fourth place
        "\x80", "\xBF", "\xC3\x28", "\xC3\xC3", "\xE2\x28\xA1", "\xE2\x82\x28", "\xE2\x82\xC0",
        "\xF0\x9F\x28\x80", "\xF0\x9F\x98\x28", "\xF0\x9F\x98\xC0",
    });
    // clang-format on
    for (const std::string_view bad : kBad) {
        EXPECT_FALSE(utf8PieceAt(bad).whole) << ::testing::PrintToString(std::string(bad));
        EXPECT_FALSE(isUtf8(bad)) << ::testing::PrintToString(std::string(bad));
        const std::string inside = "ok " + std::string(bad) + " ok";
        EXPECT_FALSE(isUtf8(inside)) << ::testing::PrintToString(inside);
    }
    // A CP1252 desk's "Cafés" with a stray byte after the e-acute.
    EXPECT_FALSE(isUtf8("Caf\xE9\x92s"));
    EXPECT_TRUE(isUtf8(""));
}

// Long ASCII stretches are looked at many bytes at a time: a byte past ASCII, good or bad, is
// found wherever it stands against those steps, and the check goes on after it.
TEST(Utf8Check, FindsEachByteAfterALongAsciiStretchWhereverItStands) {
    const auto joined = [](std::initializer_list<std::string_view> parts) {
        std::string text;
        for (const std::string_view part : parts) {
            text += part;
        }
        return text;
    };
    for (std::size_t at = 0; at < 80; ++at) {
        const std::string before(at, 'a');
        const std::string after(at % 37, 'b');
        EXPECT_EQ(asciiPrefix(joined({before, "\xC3\xA9", after})), at);
        EXPECT_EQ(asciiPrefix(joined({before, "\x80"})), at);
        EXPECT_EQ(asciiPrefix(before), at);
        EXPECT_TRUE(isUtf8(joined({before, "\xC3\xA9", after, "\xE2\x82\xAC", before}))) << at;
        EXPECT_FALSE(isUtf8(joined({before, "\xC3\xA9", after, "\xE2\x82", before}))) << at;
        EXPECT_FALSE(isUtf8(joined({before, "\xFF", after}))) << at;
        EXPECT_FALSE(isUtf8(joined({before, after, "\xC3"}))) << at;
    }
}

}  // namespace
}  // namespace profiledesk::office
