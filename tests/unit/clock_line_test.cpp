// The line under the start notice: the day without a leading zero, the month's name, the year
// and the time sentence.

#include <gtest/gtest.h>

#include <sstream>

#include "run/clock_line.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

TEST(ClockLine, ShowsTheDayWithoutLeadingZero) {
    std::ostringstream out;
    writeClockLine(out, testing::sixthOfDecember());
    EXPECT_EQ(out.str(), "          Today's date is 6 December  2026    ,  The Time Now Is :: 03:53PM.\n");
}

}  // namespace
}  // namespace profiledesk
