// The moment a run starts, as a record shows it: the time sentence on the 12-hour clock with
// AM or PM, hour and minutes with a leading zero, and the month's name.

#include <gtest/gtest.h>

#include <ctime>

#include "record/clock_snapshot.hpp"

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

TEST(ClockSnapshot, TimeSentenceUsesTheTwelveHourClock) {
    EXPECT_EQ(snapshotFrom(at(2026, 11, 6, 15, 53)).timeText, "The Time Now Is :: 03:53PM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 0, 5)).timeText, "The Time Now Is :: 12:05AM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 12, 30)).timeText, "The Time Now Is :: 12:30PM.");
    EXPECT_EQ(snapshotFrom(at(2026, 0, 1, 11, 59)).timeText, "The Time Now Is :: 11:59AM.");
}

TEST(ClockSnapshot, MonthNamesFromJanuary) {
    EXPECT_EQ(monthName(0), "January");
    EXPECT_EQ(monthName(8), "September");
    EXPECT_EQ(monthName(11), "December");
    EXPECT_EQ(monthName(12), "");
}

TEST(ClockSnapshot, WithoutALocalTimeTheClockShowsTheEpoch) {
    const ClockSnapshot clock = fallbackSnapshot();
    EXPECT_EQ(clock.dayOfMonth, 1);
    EXPECT_EQ(clock.month, 0);
    EXPECT_EQ(clock.year, 1970);
    EXPECT_EQ(clock.timeText, "The Time Now Is :: 12:00AM.");
}

}  // namespace
}  // namespace profiledesk
