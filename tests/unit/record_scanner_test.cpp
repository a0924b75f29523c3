// Records written by the desk's own writer and read back by the office's reader: whatever
// the answers, line ends, maker details or piece sizes, the reader gives back exactly what
// was stored, and never calls a record whole unless all of it is there.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/utf8.hpp"
#include "record/record_format.hpp"
#include "record/record_scanner.hpp"
#include "record_samples.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::crlf;
using testing::kOtherMaker;
using testing::randomClock;
using testing::randomRecord;
using testing::seeded;

struct Collected {
    std::vector<StoredRecord> records;
    std::vector<ScanProblem> problems;
};

struct Collector final : ScanListener {
    explicit Collector(Collected& target) : into(target) {}
    bool onRecord(const StoredRecord& record) override {
        into.records.push_back(record);
        return true;
    }
    void onProblem(const ScanProblem& problem) override { into.problems.push_back(problem); }
    Collected& into;
};

// Feeds a piece from a buffer of its own, spoilt as soon as the scanner is done with it, as
// a reader's buffer is filled again: nothing the scanner keeps may still point into it.
void feedOnce(RecordScanner& scanner, std::string_view piece) {
    std::string buffer(piece);
    scanner.feed(buffer);
    std::fill(buffer.begin(), buffer.end(), '#');
}

// Feeds `bytes` in pieces of random sizes, so that lines and CRLF pairs fall across pieces.
Collected scan(const std::string& bytes, std::mt19937& random, const ScanStart& start = {}) {
    Collected collected;
    Collector collector(collected);
    RecordScanner scanner(collector, kDefaultMaxLineBytes, start);
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 200)(random);
        feedOnce(scanner, std::string_view(bytes).substr(at, piece));
        at += piece;
    }
    scanner.finish();
    return collected;
}

Collected scanWhole(const std::string& bytes) {
    Collected collected;
    Collector collector(collected);
    RecordScanner scanner(collector);
    feedOnce(scanner, bytes);
    scanner.finish();
    return collected;
}

void expectSameValues(const StoredRecord& read, const FieldValues& written) {
    for (std::size_t i = 1; i < kFieldCount; ++i) {
        EXPECT_EQ(read.field(static_cast<Field>(i)), written.at(i)) << "field " << i;
    }
}

TEST(RecordScanner, GivesBackEveryStoredAnswerAndFigureWhateverTheLineEndsAndMaker) {
    std::mt19937 random = seeded(20261206);
    for (int round = 0; round < 200; ++round) {
        const MakerDetails& maker = round % 3 == 0 ? kOtherMaker : kMakerDetails;
        std::vector<CandidateRecord> candidates;
        std::vector<ClockSnapshot> clocks;
        std::string file;
        for (int n = 0; n < 3; ++n) {
            candidates.push_back(randomRecord(random));
            clocks.push_back(randomClock(random));
            file += formatRecord(candidates.back(), clocks.back(), maker);
        }
        const bool windows = round % 2 == 1;
        // Fed in small pieces or whole, where each record is matched where it lies.
        const Collected read = round % 4 < 2 ? scan(windows ? crlf(file) : file, random) : scanWhole(file);
        ASSERT_TRUE(read.problems.empty())
            << "round " << round << ": line " << read.problems.at(0).line << ": " << read.problems.at(0).what;
        ASSERT_EQ(read.records.size(), 3U) << "round " << round;
        for (std::size_t n = 0; n < 3; ++n) {
            const StoredRecord& record = read.records.at(n);
            EXPECT_EQ(record.number, n + 1);
            EXPECT_EQ(record.firstLine, 30 * n + 1);
            expectSameValues(record, recordValues(candidates.at(n), clocks.at(n), maker));
            const double years = *parseFigure(record.field(Field::yearsAhead));
            EXPECT_EQ(years, candidates.at(n).yearsAhead);
            EXPECT_EQ(std::signbit(years), std::signbit(candidates.at(n).yearsAhead));
            EXPECT_EQ(record.enteredAt.date.year(), clocks.at(n).year);
            EXPECT_EQ(record.enteredAt.date.month(), clocks.at(n).month + 1);
            EXPECT_EQ(record.enteredAt.date.day(), clocks.at(n).dayOfMonth);
        }
    }
}

// A read that starts just after a whole record (a collate going on from where the last one
// stopped) must number and place every later record as a read from the start does.
TEST(RecordScanner, PlacesRecordsByTheFilesBytesAndAReadAfterOneGoesOnAsAWholeRead) {
    std::mt19937 random = seeded(20261207);
    for (int round = 0; round < 40; ++round) {
        std::string file;
        for (int n = 0; n < 4; ++n) {
            file += formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
            if (n == 1) {
                file += "a stray line\n";
            }
        }
        const bool windows = round % 2 == 1;
        if (windows) {
            file = crlf(file);
        }
        const Collected whole = scan(file, random);
        ASSERT_EQ(whole.records.size(), 4U) << "round " << round;
        for (std::size_t n = 0; n < whole.records.size(); ++n) {
            const StoredRecord& record = whole.records.at(n);
            const std::string stored = file.substr(record.startOffset, record.endOffset - record.startOffset);
            EXPECT_EQ(windows ? crlf(record.text) : std::string(record.text), stored)
                << "round " << round << ", record " << n;
            const ScanStart after{record.endOffset, record.firstLine + kRecordLines - 1, record.number};
            const Collected rest = scan(file.substr(record.endOffset), random, after);
            ASSERT_EQ(rest.records.size(), whole.records.size() - n - 1) << "round " << round;
            for (std::size_t later = 0; later < rest.records.size(); ++later) {
                const StoredRecord& expected = whole.records.at(n + 1 + later);
                const StoredRecord& got = rest.records.at(later);
                EXPECT_EQ(std::tie(got.number, got.firstLine, got.startOffset, got.endOffset, got.text),
                          std::tie(expected.number, expected.firstLine, expected.startOffset,
                                   expected.endOffset, expected.text));
            }
            EXPECT_EQ(rest.problems.size(), n <= 1 ? 1U : 0U);  // the stray line, after the second record
            if (n <= 1 && !rest.problems.empty()) {
                EXPECT_EQ(rest.problems.at(0).line, whole.problems.at(0).line);
            }
        }
    }
}

TEST(RecordScanner, ReadsTheTwelveOClockHoursAsMidnightAndNoon) {
    std::mt19937 random = seeded(7);
    const CandidateRecord candidate = randomRecord(random);
    ClockSnapshot clock{
        .dayOfMonth = 6, .month = 11, .year = 2026, .timeText = "The Time Now Is :: 12:05AM."};
    std::string file = formatRecord(candidate, clock, kMakerDetails);
    clock.timeText = "The Time Now Is :: 12:59PM.";
    file += formatRecord(candidate, clock, kMakerDetails);
    const Collected read = scan(file, random);
    ASSERT_EQ(read.records.size(), 2U);
    EXPECT_EQ(read.records[0].enteredAt.hour, 0);
    EXPECT_EQ(read.records[1].enteredAt.hour, 12);
    EXPECT_EQ(read.records[1].enteredAt.minute, 59);
}

TEST(RecordScanner, NeverCallsARecordCutShortAtAnyByteWhole) {
    std::mt19937 random = seeded(42);
    const std::string first = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    for (const bool windows : {false, true}) {
        const std::string second = formatRecord(randomRecord(random), randomClock(random), kOtherMaker);
        const std::string whole = windows ? crlf(first + second) : first + second;
        const std::size_t secondStarts = windows ? crlf(first).size() : first.size();
        for (std::size_t cut = secondStarts + 1; cut < whole.size(); ++cut) {
            const Collected read = scan(whole.substr(0, cut), random);
            ASSERT_EQ(read.records.size(), 1U) << "cut at byte " << cut;
            ASSERT_EQ(read.problems.size(), 1U) << "cut at byte " << cut;
            EXPECT_EQ(read.problems[0].line, 31U) << "cut at byte " << cut;
        }
    }
}

TEST(RecordScanner, TellsAFigureThatIsNotANumberOnItsLineAndKeepsTheNextRecord) {
    std::mt19937 random = seeded(3);
    std::string file = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const std::size_t addition = file.find(" The Addition Of");
    file.replace(file.find('=', addition) + 2, file.find('\n', addition) - file.find('=', addition) - 2,
                 "5x");
    file += formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const Collected read = scan(file, random);
    ASSERT_EQ(read.problems.size(), 1U);
    EXPECT_EQ(read.problems[0].line, 23U);
    EXPECT_EQ(read.problems[0].what, "a figure that is not a number ('5x')");
    ASSERT_EQ(read.records.size(), 1U);
    EXPECT_EQ(read.records[0].firstLine, 31U);
}

TEST(RecordScanner, QuotesAFigureWithItsControlsShownVisibly) {
    std::mt19937 random = seeded(4);
    std::string file = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const std::size_t addition = file.find(" The Addition Of");
    const std::size_t value = file.find('=', addition) + 2;
    // A title-setting sequence, then a C1 CSI in UTF-8: neither may reach a terminal whole.
    file.replace(value, file.find('\n', addition) - value,
                 "\x1b]0;PWNED\x07\xc2\x9b"
                 "2J\x7f");
    const Collected read = scan(file, random);
    ASSERT_EQ(read.problems.size(), 1U);
    EXPECT_EQ(read.problems[0].what, "a figure that is not a number ('^[]0;PWNED^G<U+009B>2J^?')");
}

TEST(RecordScanner, SkipsAByteOrderMarkAtTheStartOfTheFileOnly) {
    std::mt19937 random = seeded(8);
    const std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const std::string mark = "\xEF\xBB\xBF";
    const std::string marked = mark + crlf(record).append(record);
    for (int round = 0; round < 20; ++round) {  // the mark falls across pieces in some rounds
        const Collected read = scan(marked, random);
        EXPECT_TRUE(read.problems.empty());
        EXPECT_EQ(read.records.size(), 2U);
    }
    const Collected second = scan(record + mark + record, random);
    ASSERT_EQ(second.problems.size(), 1U);
    EXPECT_EQ(second.problems[0].line, 31U);
    // Bytes that begin like a mark and are not one are kept.
    const Collected partly = scan("\xEF\xBBx\n" + record, random);
    ASSERT_EQ(partly.problems.size(), 1U);
    EXPECT_EQ(partly.problems[0].what, "1 line that belongs to no record");
    EXPECT_EQ(partly.records.size(), 1U);
    EXPECT_EQ(scan("\xEF\xBB", random).problems.size(), 1U);
}

TEST(RecordScanner, TellsALineOverTheLimitOnItsOwnLineAndReadsOn) {
    std::mt19937 random = seeded(9);
    const std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const std::string tenLines = record.substr(0, record.find(" Enter The Co-ordinator"));
    for (const bool windows : {false, true}) {
        Collected read;
        Collector collector(read);
        RecordScanner scanner(collector, 200);
        const std::string before = windows ? crlf(tenLines) : tenLines;
        scanner.feed(before);
        for (int piece = 0; piece < 1000; ++piece) {
            scanner.feed(std::string(997, 'z'));
        }
        scanner.feed(windows ? "\r\n" : "\n");
        scanner.feed(std::string(200, 'y') + (windows ? "\r\n" : "\n"));  // at the limit: no problem
        // Nor where a read ends between its CR and LF.
        scanner.feed(std::string(200, 'w') + (windows ? "\r" : ""));
        scanner.feed("\n");
        scanner.feed(windows ? crlf(record) : record);
        scanner.feed(std::string(201, 'x'));  // past it, without a line end
        scanner.finish();
        ASSERT_EQ(read.problems.size(), 4U);
        EXPECT_EQ(read.problems[0].line, 1U);
        EXPECT_EQ(read.problems[0].what, "a record cut short (11 of 30 lines)");
        EXPECT_EQ(read.problems[1].line, 12U);
        EXPECT_EQ(read.problems[1].what, "a line of more than 200 bytes");
        EXPECT_EQ(read.problems[2].line, 13U);
        EXPECT_EQ(read.problems[2].what, "2 lines that belong to no record");
        EXPECT_EQ(read.problems[3].line, 45U);
        EXPECT_EQ(read.problems[3].what, "a line of more than 200 bytes");
        ASSERT_EQ(read.records.size(), 1U);
        EXPECT_EQ(read.records[0].firstLine, 15U);
    }
}

TEST(RecordScanner, TellsADayTheMonthDoesNotHave) {
    std::mt19937 random = seeded(10);
    const CandidateRecord candidate = randomRecord(random);
    std::string file;
    for (const auto& [day, month, year] : {std::array{31, 1, 2026}, std::array{29, 1, 2026},
                                           std::array{31, 3, 2026}, std::array{29, 1, 2024}}) {
        file += formatRecord(
            candidate,
            ClockSnapshot{
                .dayOfMonth = day, .month = month, .year = year, .timeText = "The Time Now Is :: 11:58AM."},
            kMakerDetails);
    }
    const Collected read = scan(file, random);
    ASSERT_EQ(read.problems.size(), 3U);
    for (std::size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(read.problems[n].line, 30 * n + 25);
        EXPECT_EQ(read.problems[n].what, "a time and date that cannot be read");
    }
    ASSERT_EQ(read.records.size(), 1U);  // 29 February of a leap year is a day
    EXPECT_EQ(read.records[0].enteredAt.date, Day(2024, 2, 29));
}

TEST(RecordScanner, TellsARecordBrokenOffByANewOneOrByAStrayLineFromItsFirstLine) {
    std::mt19937 random = seeded(11);
    const std::string whole = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    const std::string firstEleven = whole.substr(0, whole.find(" Enter The Co-ordinator"));

    const Collected byRecord = scan(firstEleven + whole, random);
    ASSERT_EQ(byRecord.problems.size(), 1U);
    EXPECT_EQ(byRecord.problems[0].line, 1U);
    EXPECT_EQ(byRecord.problems[0].what, "a record cut short (11 of 30 lines)");
    ASSERT_EQ(byRecord.records.size(), 1U);
    EXPECT_EQ(byRecord.records[0].firstLine, 12U);

    const Collected byStray = scan("stray\n" + firstEleven + "not line twelve\n" + whole, random);
    ASSERT_EQ(byStray.problems.size(), 2U);
    EXPECT_EQ(byStray.problems[0].line, 1U);
    EXPECT_EQ(byStray.problems[0].what, "1 line that belongs to no record");
    EXPECT_EQ(byStray.problems[1].line, 2U);
    EXPECT_EQ(byStray.problems[1].what, "12 lines that belong to no record (a record breaks off at line 13)");
    ASSERT_EQ(byStray.records.size(), 1U);
    EXPECT_EQ(byStray.records[0].firstLine, 14U);
}

TEST(RecordScanner, TellsATimeOrDayOutOfRangeAndAWordWithASpaceIsNoRecord) {
    std::mt19937 random = seeded(5);
    const CandidateRecord candidate = randomRecord(random);
    std::string file;
    for (const char* time : {"The Time Now Is :: 13:05PM.", "The Time Now Is :: 11:60AM."}) {
        file += formatRecord(candidate,
                             ClockSnapshot{.dayOfMonth = 6, .month = 11, .year = 2026, .timeText = time},
                             kMakerDetails);
    }
    ClockSnapshot dayAfterTheLast = testing::sixthOfDecember();
    dayAfterTheLast.dayOfMonth = 32;
    file += formatRecord(candidate, dayAfterTheLast, kMakerDetails);
    // A year past four digits has no plain ISO 8601 form, and no desk's clock gets there.
    ClockSnapshot yearTenThousand = testing::sixthOfDecember();
    yearTenThousand.year = 10000;
    file += formatRecord(candidate, yearTenThousand, kMakerDetails);
    const Collected read = scan(file, random);
    EXPECT_TRUE(read.records.empty());
    ASSERT_EQ(read.problems.size(), 4U);
    for (std::size_t n = 0; n < 4; ++n) {
        EXPECT_EQ(read.problems[n].line, 30 * n + 25);
        EXPECT_EQ(read.problems[n].what, "a time and date that cannot be read");
    }

    // Day 0 and digits that run into letters are no day or hour either.
    ClockSnapshot dayZero = testing::sixthOfDecember();
    dayZero.dayOfMonth = 0;
    ClockSnapshot hourWithALetter = testing::sixthOfDecember();
    hourWithALetter.timeText = "The Time Now Is :: 1x:53PM.";
    std::string unread = formatRecord(candidate, dayZero, kMakerDetails) +
                         formatRecord(candidate, hourWithALetter, kMakerDetails);
    std::string dayWithALetter = formatRecord(candidate, testing::sixthOfDecember(), kMakerDetails);
    dayWithALetter.replace(dayWithALetter.find("Is 6 December"), 13, "Is 6x December");
    unread += dayWithALetter;
    const Collected unreadable = scan(unread, random);
    EXPECT_TRUE(unreadable.records.empty());
    ASSERT_EQ(unreadable.problems.size(), 3U);
    for (std::size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(unreadable.problems[n].line, 30 * n + 25);
        EXPECT_EQ(unreadable.problems[n].what, "a time and date that cannot be read");
    }

    CandidateRecord spaced = candidate;
    spaced.placeOfBirth = "Cape Coast";
    EXPECT_TRUE(
        scan(formatRecord(spaced, testing::sixthOfDecember(), kMakerDetails), random).records.empty());
}

// A line with more after its fixed text, or whose figures disagree with the years ahead an
// earlier line gave, breaks the record off there: none of it is read as a record.
TEST(RecordScanner, ALineWithTextAfterItsEndOrYearsAheadThatDisagreeBreaksTheRecordOff) {
    std::mt19937 random = seeded(13);
    CandidateRecord candidate = randomRecord(random);
    candidate.yearsAhead = 5;
    const std::string good = formatRecord(candidate, testing::sixthOfDecember(), kMakerDetails);
    const auto edited = [&good](std::string_view from, std::string_view to) {
        std::string record = good;
        const std::size_t at = record.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return record.replace(at, from.size(), to);
    };
    const std::string stars(118, '*');
    const std::string trailing = edited(stars + "\n", stars + "X\n");
    const std::string multiple = edited(":: 5 x 5 = 25", ":: 6 x 6 = 36");
    const std::string addition = edited(":: 5 + 5 = 10", ":: 5 + 6 = 11");
    // After a good record the same line 16 is taken without being matched again, and must
    // still hold the lines after it to its years ahead.
    for (const auto& [record, breaksAt] : {std::pair{trailing, 21UL}, {multiple, 22UL}, {addition, 23UL}}) {
        for (const bool afterAGoodOne : {false, true}) {
            const Collected read = scan(afterAGoodOne ? good + record : record, random);
            const std::size_t from = afterAGoodOne ? 31 : 1;
            ASSERT_EQ(read.records.size(), afterAGoodOne ? 1U : 0U) << breaksAt;
            ASSERT_EQ(read.problems.size(), 1U) << breaksAt;
            EXPECT_EQ(read.problems[0].line, from);
            EXPECT_EQ(read.problems[0].what,
                      "30 lines that belong to no record (a record breaks off at line " +
                          std::to_string(from - 1 + breaksAt) + ")");
        }
    }
}

// Where the bytes fed are split must change nothing: a record whose lines fall in two pieces
// (the split inside a line, a CRLF pair or the byte-order mark included) reads as it does
// in one, and its text always has '\n' ends.
TEST(RecordScanner, ReadsTheSameRecordsWhereverTheBytesAreSplitInTwo) {
    std::mt19937 random = seeded(14);
    const CandidateRecord first = randomRecord(random);
    const CandidateRecord second = randomRecord(random);
    const ClockSnapshot clock = testing::sixthOfDecember();
    const std::string lf = formatRecord(first, clock, kMakerDetails);
    const std::string windows = formatRecord(second, clock, kOtherMaker);
    const std::string file = "\xEF\xBB\xBF" + lf + crlf(windows);
    for (std::size_t split = 0; split <= file.size(); ++split) {
        Collected read;
        Collector collector(read);
        RecordScanner scanner(collector);
        feedOnce(scanner, std::string_view(file).substr(0, split));
        feedOnce(scanner, std::string_view(file).substr(split));
        scanner.finish();
        ASSERT_TRUE(read.problems.empty()) << "split at " << split << ": " << read.problems.at(0).what;
        ASSERT_EQ(read.records.size(), 2U) << "split at " << split;
        const StoredRecord& one = read.records[0];
        const StoredRecord& two = read.records[1];
        EXPECT_EQ(one.text, lf) << "split at " << split;
        EXPECT_EQ(two.text, windows) << "split at " << split;
        EXPECT_EQ(one.firstLine, 1U);
        EXPECT_EQ(one.startOffset, 3U);  // after the mark
        EXPECT_EQ(one.endOffset, 3 + lf.size());
        EXPECT_EQ(two.firstLine, 31U);
        EXPECT_EQ(two.startOffset, 3 + lf.size());
        EXPECT_EQ(two.endOffset, file.size());
        expectSameValues(one, recordValues(first, clock, kMakerDetails));
        expectSameValues(two, recordValues(second, clock, kOtherMaker));
    }
}

// A record with one CRLF line among LF ones, in a single piece, is copied from that line on:
// its text reads with '\n' ends and every value is still found.
TEST(RecordScanner, GivesARecordWithCrlfLinesWithLfEndsWhenFedWhole) {
    std::mt19937 random = seeded(15);
    const CandidateRecord candidate = randomRecord(random);
    const ClockSnapshot clock = randomClock(random);
    const std::string record = formatRecord(candidate, clock, kMakerDetails);
    std::string mixed = record;
    const std::size_t fifteenth = mixed.find(" Your Age In ");
    mixed.insert(mixed.find('\n', fifteenth), "\r");
    for (const std::string& file : {crlf(record), mixed, crlf(record) + record}) {
        Collected read;
        Collector collector(read);
        RecordScanner scanner(collector);
        feedOnce(scanner, file);
        scanner.finish();
        EXPECT_TRUE(read.problems.empty());
        ASSERT_FALSE(read.records.empty());
        for (const StoredRecord& got : read.records) {
            EXPECT_EQ(got.text, record);
            expectSameValues(got, recordValues(candidate, clock, kMakerDetails));
        }
        EXPECT_EQ(read.records.back().endOffset, file.size());
    }
}

// Everything the scanner tells, records and problems alike, with all their particulars.
std::vector<std::string> told(const Collected& read) {
    std::vector<std::string> all;
    for (const StoredRecord& record : read.records) {
        std::string facts = std::to_string(record.number) + " " + std::to_string(record.firstLine) + " " +
                            std::to_string(record.startOffset) + "-" + std::to_string(record.endOffset) +
                            " " + record.enteredAt.date.text() + " " + std::to_string(record.enteredAt.hour) +
                            ":" + std::to_string(record.enteredAt.minute) + " " + std::string(record.text);
        for (std::size_t i = 1; i < kFieldCount; ++i) {
            facts.append("|").append(record.field(static_cast<Field>(i)));
        }
        all.push_back(facts);
    }
    for (const ScanProblem& problem : read.problems) {
        all.push_back(std::to_string(problem.line) + " " + problem.what + " / " + std::string(problem.kind));
    }
    return all;
}

// A file fed whole and the same file fed a byte at a time tell the same: the copy a record
// needs when its lines do not all lie in one piece reads as the record read where it lies.
TEST(RecordScanner, TellsTheSameFedWholeAsFedAByteAtATime) {
    std::mt19937 random = seeded(16);
    std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    std::string notANumber = record;
    const std::size_t addition = notANumber.find(" The Addition Of");
    notANumber.insert(notANumber.find('\n', addition), "x");
    const std::string file = "\xEF\xBB\xBF" + record + "stray\n" + crlf(record) + notANumber +
                             record.substr(0, 700) + std::string(300, 'y') + "\n" + record + record + "\r\n" +
                             crlf(record).substr(0, 901);
    const auto read = [&file](std::size_t piece) {
        Collected collected;
        Collector collector(collected);
        RecordScanner scanner(collector, 200);
        for (std::size_t at = 0; at < file.size(); at += piece) {
            feedOnce(scanner, std::string_view(file).substr(at, piece));
        }
        scanner.finish();
        return collected;
    };
    const Collected whole = read(file.size());
    EXPECT_EQ(whole.records.size(), 4U);
    // A stray line, a figure, a record cut by a long line and that line, an empty line, a cut end.
    EXPECT_EQ(whole.problems.size(), 6U);
    EXPECT_EQ(told(read(1)), told(whole));
}

// Stops the scan at the second record it is given.
struct StopsAtTheSecond final : ScanListener {
    bool onRecord(const StoredRecord& record) override {
        records.push_back(record.number);
        return records.size() < 2;
    }
    void onProblem(const ScanProblem& problem) override { problemLines.push_back(problem.line); }
    std::vector<std::size_t> records;
    std::vector<std::size_t> problemLines;
};

TEST(RecordScanner, AListenerThatStopsTheScanHearsNothingMoreOfTheFile) {
    std::mt19937 random = seeded(13);
    const std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    // A stray line before the two records, then a stray line, a whole record and a cut one.
    const std::string file = "stray\n" + record + record + "stray\n" + record + record.substr(0, 200);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{61}, file.size()}) {
        StopsAtTheSecond listener;
        RecordScanner scanner(listener);
        for (std::size_t at = 0; at < file.size(); at += piece) {
            scanner.feed(std::string_view(file).substr(at, piece));
        }
        scanner.finish();
        EXPECT_TRUE(scanner.stopped());
        EXPECT_EQ(listener.records, (std::vector<std::size_t>{1, 2})) << "pieces of " << piece;
        EXPECT_EQ(listener.problemLines, std::vector<std::size_t>{1}) << "pieces of " << piece;
        EXPECT_EQ(scanner.wholeRecords(), 2U);
        EXPECT_EQ(scanner.problems(), 1U);
    }
}

// A figure is whole when the C library reads all of it as a number, as a stream reads it
// back; the figures a desk writes are checked without converting them, and must agree.
TEST(RecordScanner, TakesAFigureWhenTheCLibraryReadsAllOfItAsANumber) {
    std::mt19937 random = seeded(23);
    const std::array<std::pair<std::string_view, bool>, 22> figures{{
        {"35", true},   {"-2.5", true},    {"1.52416e+12", true}, {"7.25e-05", true}, {"1e5", true},
        {"1.", true},   {".5", true},      {"+1", true},          {"0x1p3", true},    {"inf", true},
        {"-nan", true}, {"-", false},      {"1e", false},         {"1e+", false},     {"1x", false},
        {"--1", false}, {"1.2.3", false},  {"e5", false},         {".", false},       {"1e+5.", false},
        {"-1-", false}, {"12e-3e", false},
    }};
    for (const auto& [figure, whole] : figures) {
        FieldValues values = recordValues(randomRecord(random), randomClock(random), kMakerDetails);
        values.at(static_cast<std::size_t>(Field::addition)) = figure;
        std::string file;
        renderRecord(values, file);
        const Collected read = scanWhole(file);
        EXPECT_EQ(read.records.size(), whole ? 1U : 0U) << figure;
        EXPECT_EQ(read.problems.size(), whole ? 0U : 1U) << figure;
    }
}

// A desk's maker details are the same in every record it writes, and the reader knows those
// lines again by their bytes: a record whose details differ, if only in their last byte or by
// one byte more, must still be read with its own.
TEST(RecordScanner, ReadsEachRecordsOwnMakerDetailsWhenTheyChangeFromOneRecordToTheNext) {
    std::mt19937 random = seeded(21);
    MakerDetails longer = kMakerDetails;
    longer.makerName = "Profile Desk Community Surveys";
    MakerDetails lastByte = kMakerDetails;
    lastByte.makerInitials = "PDCT";
    MakerDetails trailer = kMakerDetails;
    trailer.departmentLabel = "Records";
    const std::array<const MakerDetails*, 6> makers{&kMakerDetails, &kOtherMaker, &kMakerDetails,
                                                    &longer,        &lastByte,    &trailer};
    std::vector<FieldValues> written;
    std::string file;
    for (const MakerDetails* maker : makers) {
        const CandidateRecord candidate = randomRecord(random);
        const ClockSnapshot clock = randomClock(random);
        written.push_back(recordValues(candidate, clock, *maker));
        file += formatRecord(candidate, clock, *maker);
    }
    const Collected whole = scanWhole(file);
    ASSERT_TRUE(whole.problems.empty()) << whole.problems.at(0).what;
    ASSERT_EQ(whole.records.size(), makers.size());
    for (std::size_t n = 0; n < makers.size(); ++n) {
        expectSameValues(whole.records.at(n), written.at(n));
    }
    // The first line known again is known with its line end: followed by a byte and then the
    // next line on the same line, it is no record's first line.
    const std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    std::string joined = record;
    joined[joined.find('\n')] = '#';
    const Collected read = scanWhole(record + joined + record);
    ASSERT_EQ(read.records.size(), 2U);
    EXPECT_EQ(read.records.at(1).firstLine, 60U);
    ASSERT_EQ(read.problems.size(), 1U);
    EXPECT_EQ(read.problems.at(0).line, 31U);
}

// Every byte of a line's fixed text counts, at every place of the sixteen-byte compares: one
// byte changed anywhere in it breaks the record off, read whole or in pieces.
TEST(RecordScanner, OneByteChangedInAnyFixedTextBreaksTheRecordOff) {
    std::mt19937 random = seeded(22);
    const std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
    // Lines that open with fixed text (the rules and the questions), by their first bytes.
    std::vector<std::pair<std::size_t, std::size_t>> fixed;  // offset in the record, length
    std::size_t lineStart = 0;
    for (std::size_t index = 0; index < kRecordLines; ++index) {
        const std::size_t lineEnd = record.find('\n', lineStart);
        const LinePart& first = kRecordLayout.at(index).at(0);
        if (index >= 6 && first.field == Field::none && !first.text.empty()) {
            fixed.emplace_back(lineStart, first.text.size());
        }
        lineStart = lineEnd + 1;
    }
    ASSERT_EQ(fixed.size(), 22U);  // lines 7 to 30 but the time line and the empty one
    for (const auto& [offset, length] : fixed) {
        for (std::size_t at = offset; at < offset + length; ++at) {
            std::string spoilt = record + record;
            spoilt[at] = spoilt[at] == '#' ? '%' : '#';
            const Collected whole = scanWhole(spoilt);
            ASSERT_EQ(whole.records.size(), 1U) << "byte " << at;
            EXPECT_EQ(whole.records.at(0).firstLine, 31U) << "byte " << at;
            ASSERT_FALSE(whole.problems.empty()) << "byte " << at;
            EXPECT_EQ(whole.problems.at(0).line, 1U) << "byte " << at;
        }
    }
}

// Records found whole ahead of the scanner, on the reading thread, from any place in a piece
// on, are taken only where the scan itself comes to a record's start: a file reads the same
// with them as without, whatever it holds and wherever the finding starts.
TEST(RecordScanner, TellsTheSameWithTheRecordsFoundAheadFromAnyPlaceOn) {
    std::mt19937 random = seeded(24);
    std::string file = "\xEF\xBB\xBF";
    for (int n = 0; n < 12; ++n) {
        std::string record = formatRecord(randomRecord(random), randomClock(random), kMakerDetails);
        switch (n % 6) {
            case 1: file += "stray\n"; break;
            case 2: record = crlf(record); break;
            case 3: record.erase(record.find(" The Multiple")); break;              // cut short
            case 4: record.insert(record.find(" The Addition") + 50, "\t"); break;  // breaks off
            case 5: record.insert(record.find('\n', record.find(" The Addition")), "x"); break;
            default: break;
        }
        file += record;
    }
    const Collected plain = scanWhole(file);
    ASSERT_EQ(plain.records.size(), 6U);
    for (const std::size_t pieceSize : {std::size_t{4000}, std::size_t{9000}, file.size()}) {
        for (std::size_t step = 0; step <= 8; ++step) {
            Collected collected;
            Collector collector(collected);
            RecordScanner scanner(collector);
            RecordLineMatcher lines;
            std::size_t found = 0;
            for (std::size_t at = 0; at < file.size(); at += pieceSize) {
                const std::string piece = file.substr(at, pieceSize);
                std::vector<FoundRecord> ahead;
                findWholeRecords(piece, piece.size() * step / 8, kDefaultMaxLineBytes, lines, ahead);
                found += ahead.size();
                scanner.feed(piece, ahead);
            }
            scanner.finish();
            EXPECT_EQ(told(collected), told(plain)) << "pieces of " << pieceSize << ", from " << step << "/8";
            if (step == 0 && pieceSize == file.size()) {
                // Every record with LF ends whose lines match, a figure not a number or not:
                // not the first, behind the byte-order mark.
                EXPECT_EQ(found, 5U);
            }
        }
    }
}

// A record is told ASCII, so that its bytes are not decoded, only when every byte is: a value's
// bytes are looked at while it is matched, and a line known again carries what it was.
TEST(RecordScanner, TellsARecordAsciiOnlyWhenEveryByteIs) {
    std::mt19937 random = seeded(25);
    std::string file;
    std::size_t notAscii = 0;
    for (std::size_t field = 1; field < kFieldCount; ++field) {
        const auto which = static_cast<Field>(field);
        if (kindOf(which) == FieldKind::number || which == Field::timeText || which == Field::monthName) {
            continue;  // a figure, or the time of entry: the record would not be sound
        }
        FieldValues values = recordValues(randomRecord(random), randomClock(random), kMakerDetails);
        renderRecord(values, file);
        values.at(field) += "\xC3\xA9";
        // Twice: the second time, a line whose values stand alone is known again.
        renderRecord(values, file);
        renderRecord(values, file);
        notAscii += 2;
    }
    const auto expectTold = [&](const Collected& read, const std::string& how) {
        ASSERT_TRUE(read.problems.empty()) << how << ": " << read.problems.at(0).what;
        ASSERT_EQ(read.records.size(), notAscii / 2 * 3) << how;
        std::size_t told = 0;
        for (const StoredRecord& record : read.records) {
            EXPECT_EQ(record.ascii, isAscii(record.text)) << how << ", record " << record.number;
            told += record.ascii ? 0 : 1;
        }
        EXPECT_GE(told, notAscii) << how;  // the random answers may hold more
    };
    expectTold(scanWhole(file), "matched in place");
    expectTold(scan(file, random), "in pieces");
    Collected ahead;
    Collector collector(ahead);
    RecordScanner scanner(collector);
    RecordLineMatcher lines;
    std::vector<FoundRecord> found;
    findWholeRecords(file, 0, kDefaultMaxLineBytes, lines, found);
    scanner.feed(file, found);
    scanner.finish();
    expectTold(ahead, "found ahead");
}

}  // namespace
}  // namespace profiledesk
