// The figures computed from the two numbers, in the stream's six-significant-digit form.

#include <gtest/gtest.h>

#include <sstream>

#include "record/candidate_record.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::linesOf;

std::vector<std::string> reportFor(double ageValue, double yearsAhead) {
    CandidateRecord record;
    record.ageValue = ageValue;
    record.yearsAhead = yearsAhead;
    std::ostringstream out;
    writeEntryReport(out, record);
    return linesOf(out.str());
}

TEST(EntryReport, FiguresForThirtyAndFive) {
    const auto lines = reportFor(30, 5);
    ASSERT_EQ(lines.size(), 33U);
    EXPECT_EQ(lines[11], "  --> Your Age In 5 Year(s) Time Will Be 35.  Thank You Very Much ");
    EXPECT_EQ(lines[17], " The Multiple Of The(This) Number Is :: 5 x 5 = 25");
    EXPECT_EQ(lines[18], " The Addition Of The(This) Number Is :: 5 + 5 = 10");
    const std::string tail = " , Nearest Number(s). Thank You Very Much ";
    EXPECT_EQ(lines[20], " The(This) Number Divided By 2 :: 30  / 2 = 15" + tail);
    EXPECT_EQ(lines[21], " The(This) Number Divided By 2 :: 5  / 2 = 2.5" + tail);
    EXPECT_EQ(lines[24], " The(This) Number Divided By 3 :: 5  / 3 = 1.66667" + tail);
    EXPECT_EQ(lines[26], " The(This) Number Divided By 4 :: 30  / 4 = 7.5" + tail);
    EXPECT_EQ(lines[30], " The(This) Number Divided By 5 :: 5  / 5 = 1" + tail);
}

TEST(EntryReport, SixSignificantDigitsWithoutRounding) {
    const auto lines = reportFor(25, 1234567);
    EXPECT_EQ(lines[23],
              " The(This) Number Divided By 3 :: 25  / 3 = 8.33333 , Nearest Number(s). "
              "Thank You Very Much ");
    EXPECT_EQ(lines[17], " The Multiple Of The(This) Number Is :: 1.23457e+06 x 1.23457e+06 = 1.52416e+12");
}

TEST(EntryReport, NegativeAndFractionalYearsAreUsedUnchanged) {
    const auto lines = reportFor(41, -2.5);
    EXPECT_EQ(lines[11], "  --> Your Age In -2.5 Year(s) Time Will Be 38.5.  Thank You Very Much ");
    EXPECT_EQ(lines[17], " The Multiple Of The(This) Number Is :: -2.5 x -2.5 = 6.25");
    EXPECT_EQ(lines[18], " The Addition Of The(This) Number Is :: -2.5 + -2.5 = -5");
}

TEST(EntryReport, DateOfBirthIsNotShown) {
    CandidateRecord record;
    record.dateOfBirth = "unique-birthday-1815";
    std::ostringstream out;
    writeEntryReport(out, record);
    EXPECT_EQ(out.str().find("unique-birthday-1815"), std::string::npos);
}

TEST(EntryReport, RulesHaveTheirFixedWidths) {
    const auto lines = reportFor(1, 1);
    EXPECT_EQ(lines[2], " " + std::string(118, '-'));
    EXPECT_EQ(lines[19], " " + std::string(107, '.'));
    EXPECT_EQ(lines[32], " " + std::string(118, '-'));
}

}  // namespace
}  // namespace profiledesk
