// How answers are read: one whitespace-delimited word or number per question, whatever
// the lines they were typed on, and what a failed read leaves behind.

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::linesOf;
using testing::ScriptedRun;

constexpr const char* kFirstPrompt = " --> Enter Your Firstname :: ";
constexpr const char* kLastPrompt =
    " --> Provide The Name Of The Nearest School(Educational Compound  Premise) In Your "
    "Location(Environment) At The(This) Prompt.   :: ";

TEST(RecordEntry, AnswersTypedAheadOnTheMenuLineAnswerTheFirstQuestions) {
    ScriptedRun run("1 John Doe\nLagos 12-03-1990 36 30 5 a b c d e f g 100 h i\n");
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.record.firstName, "John");
    EXPECT_EQ(run.record.surname, "Doe");
    EXPECT_EQ(run.record.placeOfBirth, "Lagos");
    EXPECT_EQ(run.record.ageValue, 30.0);
    EXPECT_EQ(run.record.yearsAhead, 5.0);
    EXPECT_EQ(run.record.libraryFee, "100");
    EXPECT_EQ(run.record.nearestSchool, "i");
    EXPECT_NE(run.out.str().find(kLastPrompt), std::string::npos);
}

TEST(RecordEntry, TwoWordsAnswerTwoQuestions) {
    ScriptedRun run("1 John Doe Port Harcourt 36\n");
    run.run();
    EXPECT_EQ(run.record.placeOfBirth, "Port");
    EXPECT_EQ(run.record.dateOfBirth, "Harcourt");
    EXPECT_EQ(run.record.ageText, "36");
}

TEST(RecordEntry, MenuAnswerWithFractionLeavesTheFractionForTheFirstQuestion) {
    ScriptedRun run("1.5 Doe\n");
    run.run();
    EXPECT_EQ(run.record.firstName, ".5");
    EXPECT_EQ(run.record.surname, "Doe");
}

TEST(RecordEntry, NumberFollowedByLettersKeepsTheNumberAndFailsEveryLaterRead) {
    ScriptedRun run("1 Ada Lovelace London 1815-12-10 36 12x 5 Uni Street\n");
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.record.ageValue, 12.0);
    EXPECT_EQ(run.record.yearsAhead, 0.0);
    EXPECT_EQ(run.record.educationCentre, "");
    EXPECT_EQ(run.record.nearestSchool, "");
    // The input left unread stays there: nothing after the failure consumed it.
    run.in.clear();
    std::string rest;
    std::getline(run.in, rest);
    EXPECT_EQ(rest, "x 5 Uni Street");
    // All prompts are still shown, and the record is still written whole.
    EXPECT_NE(run.out.str().find(kLastPrompt), std::string::npos);
    EXPECT_EQ(linesOf(run.stored()).size(), 30U);
}

TEST(RecordEntry, EndOfInputPartWayLeavesTheRestEmptyAndStillSaves) {
    ScriptedRun run("1 Ada");
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.record.firstName, "Ada");
    EXPECT_EQ(run.record.surname, "");
    EXPECT_EQ(run.record.ageValue, 0.0);
    const auto stored = linesOf(run.stored());
    ASSERT_EQ(stored.size(), 30U);
    EXPECT_EQ(stored[6], " Candidate Name :: Ada ");
    EXPECT_EQ(run.keyWaits, 1);
    EXPECT_EQ(run.err.str(),
              "profiledesk: the answers ended after 1 of 17; the record was saved with the rest empty\n");
}

// Said only when the input ended: not after seventeen answers, the last without a line end,
// nor after a number that is not one, which stops the reading as documented.
TEST(RecordEntry, NothingIsSaidOfAnInputThatDidNotEndEarly) {
    for (const char* typed : {"1 a b c d e 36 5 f g h i j k l m n o", "1 a b c d e 36 x f g\n"}) {
        ScriptedRun run(typed);
        EXPECT_EQ(run.run(), 0);
        EXPECT_EQ(run.err.str(), "") << typed;
    }
    ScriptedRun ended("4\n1\n");
    EXPECT_EQ(ended.run(), 0);
    EXPECT_EQ(ended.err.str(),
              "profiledesk: the answers ended after 0 of 17; the record was saved with the rest empty\n");
}

TEST(RecordEntry, OutOfRangeNumberCountsAsFailedAndStaysZero) {
    ScriptedRun run("1 a b c d e 1e999 5 f\n");
    run.run();
    EXPECT_EQ(run.record.ageValue, 0.0);
    EXPECT_EQ(run.record.yearsAhead, 0.0);
    EXPECT_EQ(run.record.educationCentre, "");
}

TEST(RecordEntry, WordsLongerThanAnyFieldAreKeptWhole) {
    const std::string longWord(5000, 'w');
    ScriptedRun run("1 " + longWord + " Doe\n");
    run.run();
    EXPECT_EQ(run.record.firstName, longWord);
    EXPECT_NE(run.stored().find(" Candidate Name :: " + longWord + " Doe\n"), std::string::npos);
}

TEST(RecordEntry, OddAnswersAreStoredAsTyped) {
    ScriptedRun run("1 --- x\n");
    run.run();
    EXPECT_EQ(run.record.firstName, "---");
    EXPECT_EQ(run.record.surname, "x");
}

TEST(RecordEntry, TheNoAnswerPromptIsFollowedAtOnceByTheFeePrompt) {
    ScriptedRun run("1\n");
    run.run();
    const std::string out = run.out.str();
    const std::string noAnswer =
        " --> If Needed At The(This) Available Option(Focus) As Requested(Ordered), Provide It At The "
        "Prompt :: \n";
    const std::string fee =
        " --> Provide Your Regional Library(Rec. Center) Fee For This Environment(Location) At "
        "The(This) Prompt Also.   :: \n";
    EXPECT_NE(out.find(noAnswer + fee), std::string::npos);
    // Eighteen prompt lines for seventeen answers.
    const auto lines = linesOf(out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.starts_with(" --> Enter ") || l.starts_with(" --> Also, ") ||
                                       l.starts_with(" --> If Needed ") || l.starts_with(" --> Provide ");
                            }),
              19);  // the menu prompt and the eighteen of data entry
    EXPECT_NE(out.find(kFirstPrompt), std::string::npos);
}

}  // namespace
}  // namespace profiledesk
