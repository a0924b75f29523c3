// The one table of columns: how each database names their kinds, and a row filled from a
// record read back, in column order; and the rules a row's answers are looked at by.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>

#include "office/columns.hpp"
#include "office/quality.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

TEST(Columns, ARowHoldsTheFileTheRecordItsLineItsTimeAndTheAnswersInColumnOrder) {
    CandidateRecord candidate;
    candidate.firstName = "Ada";
    candidate.zonalLibrary = "West-Library";
    candidate.shoppingCentre = "Accra-Mall";
    candidate.yearsAhead = -2.5;
    const std::string file = "stray\n" + formatRecord(candidate, testing::sixthOfDecember(), kMakerDetails);
    struct Rows final : ScanListener {
        bool onRecord(const StoredRecord& record) override {
            fillRow("a.dat", record, row);
            number = wholeValue(kColumns.at(1), record);
            line = wholeValue(kColumns.at(2), record);
            return true;
        }
        void onProblem(const ScanProblem& /*problem*/) override {}
        Row row;
        std::size_t number = 0;
        std::size_t line = 0;
    } rows;
    RecordScanner scanner(rows);
    scanner.feed(file);
    scanner.finish();
    const auto value = [&rows](std::string_view name) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (kColumns.at(i).name == name) {
                return std::string(rows.row.values.at(i));
            }
        }
        return std::string("no such column");
    };
    EXPECT_EQ(value("source"), "a.dat");
    EXPECT_EQ(value("record"), "1");
    EXPECT_EQ(value("line"), "2");
    EXPECT_EQ(rows.number, 1U);
    EXPECT_EQ(rows.line, 2U);
    EXPECT_EQ(value("entered_at"), "2026-12-06T15:53");
    EXPECT_EQ(value("first_name"), "Ada");
    EXPECT_EQ(value("zonal_library"), "West-Library");
    EXPECT_EQ(value("shopping_centre"), "Accra-Mall");
    EXPECT_EQ(value("years_ahead"), "-2.5");
    EXPECT_EQ(value("surname"), "");
}

using Values = std::array<std::string_view, kColumnCount>;

// A record right in every answer: entered on 6 December 2026, born on 1 February 1990, 36
// then and 41 in 5 years.
const Values kRight{"north", "1",        "1",      "2026-12-06T15:53",
                    "Ada",   "Lovelace", "London", "01.02.1990",
                    "36",    "Tech",     "Road",   "Kofi",
                    "Mill",  "Co",       "Rep",    "Lib",
                    "250",   "Mall",     "School", "5",
                    "41"};

// Each rule of the records that need a look, at its edge: a record right but for one thing
// breaks that rule alone.
TEST(Quality, EachRuleFindsWhatItNamesAndNothingNextToIt) {
    EXPECT_EQ(ruleList(lookAt(kRight)), "");  // a date parted by dots is a date
    Values monthFirst = kRight;
    monthFirst.at(7) = "02/13/1990";  // no 13th month: the month came first
    EXPECT_EQ(ruleList(lookAt(monthFirst)), "");
    Values ended = kRight;
    for (std::size_t i = 11; i < 19; ++i) {  // from coordinator on
        ended.at(i) = "";
    }
    EXPECT_EQ(ruleList(lookAt(ended)), "ended-early");
    // Ended before the two numbers were asked: the figures the desk wrote without them are
    // no second age to compare.
    Values endedSooner = kRight;
    for (std::size_t i = 9; i < 19; ++i) {  // from education_centre on
        endedSooner.at(i) = "";
    }
    endedSooner.at(19) = "0";
    endedSooner.at(20) = "0";
    EXPECT_EQ(ruleList(lookAt(endedSooner)), "ended-early");
    Values bornThatDay = kRight;
    bornThatDay.at(7) = "06-12-2026";
    bornThatDay.at(8) = "a baby";
    EXPECT_EQ(ruleList(lookAt(bornThatDay)), "age-not-number");
    // Years ahead from 0 to 130, the second age following.
    for (const auto& [years, after, rules] :
         {std::tuple("0", "36", ""), std::tuple("130", "166", ""),
          std::tuple("131", "167", "years-out-of-range"), std::tuple("-1", "35", "years-out-of-range")}) {
        Values ahead = kRight;
        ahead.at(19) = years;
        ahead.at(20) = after;
        EXPECT_EQ(ruleList(lookAt(ahead)), rules) << years;
    }
    // A year either way of the date of birth is a day and month read the other way round; two
    // are not. The second age follows the first, or is a year off it.
    for (const auto& [age, after, rules] :
         {std::tuple("37", "42", ""), std::tuple("35", "40", ""),
          std::tuple("38", "43", "birth-age-disagree"), std::tuple("34", "39", "birth-age-disagree"),
          std::tuple("36", "42", "ages-disagree"), std::tuple("36", "40", "ages-disagree")}) {
        Values aged = kRight;
        aged.at(8) = age;
        aged.at(20) = after;
        EXPECT_EQ(ruleList(lookAt(aged)), rules) << age;
    }
}

// A date of birth as desks type it, and what each finding tells the clerk: the answer quoted,
// a long one cut on a character's edge with its length.
TEST(Quality, DatesOfBirthAsDesksTypeThemAndWhatEachFindingSays) {
    // "x" and then `count` times é (two bytes each).
    const auto accented = [](int count) {
        std::string text = "x";
        for (int i = 0; i < count; ++i) {
            text += "\u00e9";
        }
        return text;
    };
    const std::string longAge = accented(100);
    const std::string shownAge = accented(99);
    for (const auto& [born, age, after, told] :
         std::initializer_list<std::tuple<const char*, std::string, const char*, std::string>>{
             {"1990-2-1", "36", "41", ""},
             {"10-10-1990", "36", "41", ""},  // two-digit day and month
             {"01-02-90", "36", "41", "the date of birth '01-02-90' is not a date"},
             {"01.02.1990.", "36", "41", "the date of birth '01.02.1990.' is not a date"},
             {"01-02", "36", "41", "the date of birth '01-02' is not a date"},
             {"31-02-1990", "36", "41", "the date of birth '31-02-1990' is not a date"},
             {"13-13-1990", "36", "41", "the date of birth '13-13-1990' is not a date"},
             {"01-02-0990", "36", "41", "the date of birth '01-02-0990' is not a date"},
             // A birthday on the day after entry: a year younger; on the day itself, not.
             {"07-12-1990", "36", "41", ""},
             {"07-12-1990", "37", "42",
              "the age 37 does not agree with the date of birth 07-12-1990 (35 when entered)"},
             {"06-12-1990", "34", "39",
              "the age 34 does not agree with the date of birth 06-12-1990 (36 when entered)"},
             {"06-12-2026", "0", "5", ""},
             {"07-12-2026", "0", "5", "the date of birth 07-12-2026 is after the day the record was entered"},
             {"", "131", "136", "date_of_birth is empty; the age 131 is not from 0 to 130"},
             {"01-02-1990", "-1", "4",
              "the age -1 is not from 0 to 130; "
              "the age -1 does not agree with the date of birth 01-02-1990 (36 when entered)"},
             {"01-02-1990", longAge, "41", "the age '" + shownAge + "\u2026 (201 bytes)' is not a number"}}) {
        Values values = kRight;
        values.at(7) = born;
        values.at(8) = age;
        values.at(20) = after;
        EXPECT_EQ(findingsText(lookAt(values)), told) << born << " " << age;
    }
    Values gaps = kRight;
    gaps.at(5) = "";
    gaps.at(18) = "";
    EXPECT_EQ(findingsText(lookAt(gaps)),
              "surname is empty; the answers from nearest_school on are empty: the input "
              "ended early");
}

}  // namespace
}  // namespace profiledesk::office
