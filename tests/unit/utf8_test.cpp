// UTF-8: the check that decides which answers the office's outputs take as text, where every
// ill-formed sequence is refused, at its own start and inside longer text; and the one way
// bytes that are not UTF-8 become U+FFFD.

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/utf8.hpp"

namespace profiledesk {
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

std::string replaced(std::string_view text) {
    std::string out = "[";
    (void)replaceNotUtf8(out, text);
    return out + "]";
}

TEST(Utf8, EachBrokenPieceBecomesOneReplacementCharacter) {
    const std::string fffd(kReplacementCharacter);
    EXPECT_EQ(replaced("K\xc3\xb6ln \xe2\x82\xac \xf0\x9f\x98\x80"),
              "[K\xc3\xb6ln \xe2\x82\xac \xf0\x9f\x98\x80]");
    EXPECT_EQ(replaced("\xff\xfeX"), "[" + fffd + fffd + "X]");                 // no character starts there
    EXPECT_EQ(replaced("K\xf6ln"), "[K" + fffd + "ln]");                        // Latin-1
    EXPECT_EQ(replaced("\xe2\x82X"), "[" + fffd + "X]");                        // a start cut short
    EXPECT_EQ(replaced("\xe2\x82\xe2\x82\xac"), "[" + fffd + "\xe2\x82\xac]");  // then a whole one
    EXPECT_EQ(replaced("a\xf0\x9f\x98"), "[a" + fffd + "]");                    // cut at the end
    EXPECT_EQ(replaced("\x80\xbf"), "[" + fffd + fffd + "]");                   // stray continuations
    EXPECT_EQ(replaced("\xc0\xaf"), "[" + fffd + fffd + "]");                   // overlong
    EXPECT_EQ(replaced("\xe0\x80\xaf"), "[" + fffd + fffd + fffd + "]");        // overlong
    EXPECT_EQ(replaced("\xed\xa0\x80"), "[" + fffd + fffd + fffd + "]");        // a surrogate
    EXPECT_EQ(replaced("\xf4\x90\x80\x80"), "[" + fffd + fffd + fffd + fffd + "]");  // past U+10FFFF
    EXPECT_EQ(replaced("\xf4\x8f\xbf\xbf"), "[\xf4\x8f\xbf\xbf]");                   // U+10FFFF itself
    EXPECT_TRUE(isUtf8("K\xc3\xb6ln"));
    EXPECT_TRUE(isUtf8(""));
    EXPECT_FALSE(isUtf8("K\xf6ln"));
    EXPECT_FALSE(isUtf8("\xe2\x82"));
}

TEST(Utf8, RefusedCharactersAreReplacedAndBytesMayBeKept) {
    const auto nul = [](std::string_view character) { return character.front() == '\0'; };
    const std::string text("a\0b\xff\xc3\xa9", 6);
    const std::string fffd(kReplacementCharacter);

    std::string strict;
    Replaced what = replaceNotUtf8(strict, text, nul);
    EXPECT_EQ(strict, "a" + fffd + "b" + fffd + "\xc3\xa9");
    EXPECT_TRUE(what.notUtf8);
    EXPECT_TRUE(what.unwanted);

    std::string kept;
    what = replaceNotUtf8(kept, text, nul, true);
    EXPECT_EQ(kept, "a" + fffd + "b\xff\xc3\xa9");
    EXPECT_FALSE(what.notUtf8);
    EXPECT_TRUE(what.unwanted);

    std::string clean;
    what = replaceNotUtf8(clean, "plain", nul);
    EXPECT_EQ(clean, "plain");
    EXPECT_FALSE(what.notUtf8 || what.unwanted);
}

}  // namespace
}  // namespace profiledesk
