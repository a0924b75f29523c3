// Answers in a desk's code page turned into UTF-8: each byte its character, a byte the code
// page leaves undefined U+FFFD, and nothing held back from one piece to the next.

#include <gtest/gtest.h>

#include <string>

#include "office/desks/encoding.hpp"

namespace profiledesk::office {
namespace {

// The UTF-8 of `bytes`, and whether every byte was valid.
std::pair<std::string, bool> decoded(const Decoder& decoder, std::string_view bytes) {
    std::string out = "[";
    const bool valid = decoder.decode(bytes, out);
    return {out + "]", valid};
}

TEST(Decoder, TurnsEachCodePagesBytesIntoTheirCharacters) {
    const Decoder windows("CP1252");
    EXPECT_EQ(decoded(windows, "Zo\xEB \x80 \x9C"),
              std::make_pair(std::string("[Zo\xC3\xAB \xE2\x82\xAC \xC5\x93]"), true));
    EXPECT_EQ(decoded(windows, "a\x81z"), std::make_pair(std::string("[a\xEF\xBF\xBDz]"), false));
    EXPECT_EQ(decoded(windows, "\xE9"),
              std::make_pair(std::string("[\xC3\xA9]"), true));  // fine after a bad byte
    const Decoder dos("CP437");
    EXPECT_EQ(decoded(dos, "caf\x82 \xB0"), std::make_pair(std::string("[caf\xC3\xA9 \xE2\x96\x91]"), true));
    const Decoder cyrillic("KOI8-R");
    EXPECT_EQ(decoded(cyrillic, "\xC1\xC2"), std::make_pair(std::string("[\xD0\xB0\xD0\xB1]"), true));
    const Decoder latin9("ISO-8859-15");
    EXPECT_EQ(decoded(latin9, "\xA4"), std::make_pair(std::string("[\xE2\x82\xAC]"), true));
    const Decoder utf8(kUtf8);
    EXPECT_EQ(decoded(utf8, "K\xC3\xB6ln"), std::make_pair(std::string("[K\xC3\xB6ln]"), true));
    EXPECT_EQ(decoded(utf8, "K\xF6ln"), std::make_pair(std::string("[K\xEF\xBF\xBDln]"), false));
}

// Each byte is its own character, as Windows reads it: a CP1258 combining mark is not joined to
// the letter before it, and an answer ends with its last letter.
TEST(Decoder, ACombiningMarkStaysACharacterOfItsOwn) {
    const Decoder vietnamese("CP1258");
    EXPECT_EQ(decoded(vietnamese, "Ca"), std::make_pair(std::string("[Ca]"), true));
    EXPECT_EQ(decoded(vietnamese, "a\xEC"), std::make_pair(std::string("[a\xCC\x81]"), true));
}

TEST(Decoder, EncodingsAreNamedInAnyCase) {
    EXPECT_EQ(knownEncoding("cp1252"), std::optional<std::string_view>("CP1252"));
    EXPECT_EQ(knownEncoding("utf-8"), std::optional<std::string_view>("UTF-8"));
    EXPECT_EQ(knownEncoding("EBCDIC"), std::nullopt);
}

}  // namespace
}  // namespace profiledesk::office
