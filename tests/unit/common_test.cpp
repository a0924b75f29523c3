// What both programs share: the calendar day that records and the command line name, and
// the one way bytes that are not UTF-8 become U+FFFD.

#include <gtest/gtest.h>

#include <string>

#include "common/day.hpp"
#include "common/utf8.hpp"

namespace profiledesk {
namespace {

TEST(Day, ReadsOnlyRealDaysWrittenExactlyAsYearMonthDay) {
    for (const char* real : {"2026-12-06", "2024-02-29", "2000-02-29", "0001-01-01", "9999-12-31"}) {
        const std::optional<Day> day = Day::parse(real);
        ASSERT_TRUE(day) << real;
        EXPECT_EQ(day->text(), real);
    }
    for (const char* wrong :
         {"2026-02-29", "1900-02-29", "2026-04-31", "2026-13-01", "2026-00-10", "2026-12-00", "2026-12-32",
          "2026-1-06", "2026-12-6", "2026/12/06", "2026-12-06 ", "20261206", "2026-+1-06", ""}) {
        EXPECT_FALSE(Day::parse(wrong)) << wrong;
    }
    const std::optional<Day> day = Day::parse("2026-12-06");
    ASSERT_TRUE(day);
    EXPECT_EQ(day->year(), 2026);
    EXPECT_EQ(day->month(), 12);
    EXPECT_EQ(day->day(), 6);
}

TEST(Day, OrdersAndCountsAcrossMonthsYearsAndLeapDays) {
    EXPECT_LT(Day(2026, 12, 6), Day(2026, 12, 7));
    EXPECT_LT(Day(2026, 11, 30), Day(2026, 12, 1));
    EXPECT_LT(Day(2025, 12, 31), Day(2026, 1, 1));
    EXPECT_EQ(Day(2026, 12, 31).next(), Day(2027, 1, 1));
    EXPECT_EQ(Day(2024, 2, 28).next(), Day(2024, 2, 29));
    EXPECT_EQ(Day(2026, 2, 28).next(), Day(2026, 3, 1));
    EXPECT_EQ(Day(2024, 1, 1).daysUntil(Day(2025, 1, 1)), 366);
    EXPECT_EQ(Day(2025, 1, 1).daysUntil(Day(2026, 1, 1)), 365);
    EXPECT_EQ(Day(2026, 12, 6).daysUntil(Day(2026, 12, 1)), -5);
    // A record may name a day the calendar has not; it still sorts by what it says.
    EXPECT_LT(Day(2026, 2, 28), Day(2026, 2, 31));
    EXPECT_LT(Day(2026, 2, 31), Day(2026, 3, 1));
    EXPECT_EQ(Day(2026, 2, 31).text(), "2026-02-31");
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
