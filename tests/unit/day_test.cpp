// The calendar day that records and the command line name.

#include <gtest/gtest.h>

#include <string>

#include "common/day.hpp"

namespace profiledesk {
namespace {

TEST(Day, ReadsOnlyRealDaysWrittenExactlyAsYearMonthDay) {
    for (const char* real : {"2026-12-06", "2024-02-29", "2000-02-29", "0001-01-01", "9999-12-31"}) {
        const std::optional<Day> day = Day::parse(real);
        ASSERT_TRUE(day) << real;
        EXPECT_EQ(day->text(), real);
    }
    for (const char* wrong : {"2026-02-29", "1900-02-29", "2026-04-31", "2026-13-01", "2026-00-10",
                              "2026-12-00", "2026-12-32", "2026-1-06", "2026-12-6", "2026/12/06",
                              "2026-12x06", "2026x12-06", "2026-12-06 ", "20261206", "2026-+1-06", ""}) {
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

}  // namespace
}  // namespace profiledesk
