// The record as the desk writes it: 30 lines, stamped with the run's clock.

#include <gtest/gtest.h>

#include <string>

#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::linesOf;

TEST(RecordFormat, ThirtyLinesStampedWithTheRunsClock) {
    const auto lines =
        linesOf(formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails));
    ASSERT_EQ(lines.size(), 30U);
    EXPECT_EQ(lines[0], " -->                     Profile Desk Community Survey[PDCS] !!!");
    EXPECT_EQ(lines[8], " Candidate's Date Of Birth Is :: 12-03-1990 , Candidate's Age Is :: 36");
    EXPECT_EQ(lines[15],
              " Your Age In 5 Years Time Will Be :: 35 . Thank You For Providing These Options "
              "And Selections. ");
    EXPECT_EQ(lines[20], " " + std::string(118, '*'));
    EXPECT_EQ(lines[21], " The Multiple Of The(This) Number Is :: 5 x 5 = 25");
    EXPECT_EQ(lines[23], std::string(117, '-'));
    EXPECT_EQ(lines[24], "The Time Now Is :: 03:53PM.  -->  Today's Date Is 6 December 2026.");
    EXPECT_EQ(lines[25], "");
    EXPECT_EQ(lines[26], std::string(119, '-'));
    EXPECT_EQ(lines[27], " " + std::string(118, '-'));
    EXPECT_EQ(lines[29],
              " " + std::string(44, '-') + "> Community Records Department <" + std::string(48, '-'));
}

}  // namespace
}  // namespace profiledesk
