// The clock line and the time sentence: 12-hour clock with AM or PM, day without a
// leading zero, hour and minutes with one.

#include <gtest/gtest.h>

#include <sstream>

#include "run/clock_line.hpp"

namespace profiledesk {
namespace {

std::tm at(int year, int month, int day, int hour, int minute) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    return local;
}

TEST(Clock, TimeSentenceUsesTheTwelveHourClock) {
    EXPECT_EQ(snapshotFrom(at(2026, 11, 6, 15, 53)).timeText, "The Time Now Is :: 03:53PM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 0, 5)).timeText, "The Time Now Is :: 12:05AM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 12, 30)).timeText, "The Time Now Is :: 12:30PM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 11, 59)).timeText, "The Time Now Is :: 11:59AM.");
}

TEST(Clock, ClockLineShowsTheDayWithoutLeadingZero) {
    std::ostringstream out;
    writeClockLine(out, snapshotFrom(at(2026, 11, 6, 15, 53)));
    EXPECT_EQ(out.str(), "          Today's date is 6 December  2026    ,  The Time Now Is :: 03:53PM.\n");
}

TEST(Clock, MonthNamesFromJanuary) {
    EXPECT_EQ(monthName(0), "January");
    EXPECT_EQ(monthName(8), "September");
    EXPECT_EQ(monthName(11), "December");
    EXPECT_EQ(monthName(12), "");
}

TEST(Clock, WithoutALocalTimeTheClockShowsTheEpoch) {
    const ClockSnapshot clock = fallbackSnapshot();
    EXPECT_EQ(clock.dayOfMonth, 1);
    EXPECT_EQ(clock.month, 0);
    EXPECT_EQ(clock.year, 1970);
    EXPECT_EQ(clock.timeText, "The Time Now Is :: 12:00AM.");
}

}  // namespace
}  // namespace profiledesk
