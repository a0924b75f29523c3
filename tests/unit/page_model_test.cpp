// The report page's model: its scales, bars and labels in the chart's units, the days and
// age bands drawn, the shares and the texts, worked out without the template engine.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "office/report/page_model.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

TEST(PageModel, TheScaleEndsAtOneTwoOrFiveTimesAPowerOfTen) {
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> tops{
        {1, 1},   {2, 2},   {3, 5},    {5, 5},     {6, 10},     {10, 10},
        {11, 20}, {21, 50}, {99, 100}, {101, 200}, {5000, 5000}};
    for (const auto& [most, top] : tops) {
        EXPECT_EQ(scaleTop(most), top) << most;
    }
}

TEST(PageModel, BarsStandOnTheFootInEqualSlotsUnderTheScale) {
    const Chart drawn = chart("c", "Heading", "Column", {{"a", 1}, {"b", 4}});
    // The scale runs to 5: a bar of 4 is four fifths of the 204 units from the foot (224) to the top (20).
    ASSERT_EQ(drawn.bars.size(), 2U);
    const double slot = (790.0 - 56.0) / 2;
    EXPECT_DOUBLE_EQ(drawn.bars[0].x, 56 + slot * 0.1);
    EXPECT_DOUBLE_EQ(drawn.bars[0].width, slot * 0.8);
    EXPECT_DOUBLE_EQ(drawn.bars[0].height, 204.0 / 5);
    EXPECT_DOUBLE_EQ(drawn.bars[0].y, 224 - 204.0 / 5);
    EXPECT_DOUBLE_EQ(drawn.bars[1].x, 56 + slot * 1.1);
    EXPECT_DOUBLE_EQ(drawn.bars[1].y + drawn.bars[1].height, 224);
    EXPECT_DOUBLE_EQ(drawn.bars[1].height, 204.0 * 4 / 5);
    EXPECT_EQ(drawn.bars[1].label, "b");
    EXPECT_EQ(drawn.bars[1].count, 4U);
    ASSERT_EQ(drawn.labels.size(), 2U);
    EXPECT_DOUBLE_EQ(drawn.labels[1].x, 56 + slot * 1.5);
    EXPECT_DOUBLE_EQ(drawn.labels[1].y, 240);
    // 5 is odd: no middle mark.
    ASSERT_EQ(drawn.ticks.size(), 2U);
    EXPECT_EQ(drawn.ticks[0].value, 0U);
    EXPECT_DOUBLE_EQ(drawn.ticks[0].y, 224);
    EXPECT_EQ(drawn.ticks[1].value, 5U);
    EXPECT_DOUBLE_EQ(drawn.ticks[1].y, 20);
    EXPECT_DOUBLE_EQ(drawn.ticks[1].textX, 50);
    EXPECT_DOUBLE_EQ(drawn.ticks[1].textY, 24);
    EXPECT_DOUBLE_EQ(drawn.ticks[1].x2, 790);

    std::vector<Bar> many(20, Bar{"x", 2});
    const Chart crowded = chart("c", "Heading", "Column", many);
    // Twenty bars: every third labelled, so that no more than eight labels stand.
    EXPECT_EQ(crowded.labels.size(), 7U);
    ASSERT_EQ(crowded.ticks.size(), 3U);
    EXPECT_EQ(crowded.ticks[1].value, 1U);
    EXPECT_DOUBLE_EQ(crowded.ticks[1].y, 122);

    const Chart none = chart("c", "Heading", "Column", {});
    EXPECT_TRUE(none.bars.empty());
    EXPECT_TRUE(none.labels.empty());
    ASSERT_EQ(none.ticks.size(), 2U);
    EXPECT_EQ(none.ticks[1].value, 1U);
}

std::vector<std::string> labelsOf(const std::vector<Bar>& bars) {
    std::vector<std::string> labels;
    labels.reserve(bars.size());
    for (const Bar& bar : bars) {
        labels.push_back(bar.label + "=" + std::to_string(bar.count));
    }
    return labels;
}

TEST(PageModel, DaysWithoutRecordsAreDrawnBetweenTheFirstAndLastUnlessTheySpanFourHundredDays) {
    EXPECT_EQ(labelsOf(dayBars({{Day(2024, 2, 27), 3}, {Day(2024, 3, 1), 1}})),
              (std::vector<std::string>{"2024-02-27=3", "2024-02-28=0", "2024-02-29=0", "2024-03-01=1"}));
    EXPECT_EQ(labelsOf(dayBars({{Day(2026, 12, 31), 2}, {Day(2027, 1, 1), 5}})),
              (std::vector<std::string>{"2026-12-31=2", "2027-01-01=5"}));
    // 399 days from the first to the last: 400 bars; 400 days: only the days with records.
    EXPECT_EQ(dayBars({{Day(2026, 1, 1), 1}, {Day(2027, 2, 4), 1}}).size(), 400U);
    EXPECT_EQ(labelsOf(dayBars({{Day(2026, 1, 1), 1}, {Day(2026, 6, 1), 2}, {Day(2027, 2, 5), 4}})),
              (std::vector<std::string>{"2026-01-01=1", "2026-06-01=2", "2027-02-05=4"}));
    EXPECT_TRUE(dayBars({}).empty());
}

TEST(PageModel, AgeBandsOfFiveYearsBelowZeroTooAndOnlyThoseSeenWhenTheyWouldBeSixtyOrMore) {
    EXPECT_EQ(labelsOf(ageBars({{-5, 1}, {5, 2}})),
              (std::vector<std::string>{"-5\u2013-1=1", "0\u20134=0", "5\u20139=2"}));
    EXPECT_EQ(ageBars({{0, 1}, {295, 1}}).size(), 60U);
    EXPECT_EQ(labelsOf(ageBars({{0, 1}, {300, 1}})),
              (std::vector<std::string>{"0\u20134=1", "300\u2013304=1"}));
}

TEST(PageModel, SharesAndTheScopeOfTheDays) {
    EXPECT_EQ(share(1, 3), "33.3 %");
    EXPECT_EQ(share(2, 3), "66.7 %");
    EXPECT_EQ(share(7, 7), "100.0 %");
    EXPECT_EQ(scopeOf({}), "Every whole record of the files below.");
    EXPECT_EQ(scopeOf({Day(2026, 12, 1), std::nullopt}),
              "The whole records of the files below entered from 2026-12-01, both days included.");
    EXPECT_EQ(
        scopeOf({Day(2026, 12, 1), Day(2026, 12, 6)}),
        "The whole records of the files below entered from 2026-12-01 to 2026-12-06, both days included.");
    EXPECT_EQ(scopeOf({std::nullopt, Day(2026, 12, 6)}),
              "The whole records of the files below entered to 2026-12-06, both days included.");
    EXPECT_EQ(scopeOf({}, true), "Every record of the database, each once as collated.");
    EXPECT_EQ(scopeOf({Day(2026, 12, 1), Day(2026, 12, 6)}, true),
              "The records of the database entered from 2026-12-01 to 2026-12-06, both days included.");
}

TEST(PageModel, DesksAndWhereThePageWasDrawnFrom) {
    ReportCounts counts;
    counts.records = 5;
    counts.desks = {{"north", 3}, {"so\x01uth", 2}};
    const PageModel fromDatabase = pageModel(ReportInput{"T", {}, {}, counts, "office\x7f.db"});
    EXPECT_EQ(fromDatabase.drawnFrom, "the database office\xef\xbf\xbd.db");
    ASSERT_EQ(fromDatabase.desks.size(), 2U);
    EXPECT_EQ(fromDatabase.desks[0].desk, "north");
    EXPECT_EQ(fromDatabase.desks[0].records, 3U);
    EXPECT_EQ(fromDatabase.desks[1].desk, "so\xef\xbf\xbduth");
    EXPECT_EQ(fromDatabase.fileCount, 0U);
    EXPECT_EQ(pageModel(ReportInput{"T", {}, {}, counts, {}}).drawnFrom, "the record files");
}

struct Tallied final : ScanListener {
    bool onRecord(const StoredRecord& record) override {
        tally.addRecord(record);
        return true;
    }
    void onProblem(const ScanProblem& /*problem*/) override {}
    ReportTally tally;
};

std::string entered(const std::string& place, const std::string& age, int day, const char* time) {
    CandidateRecord candidate;
    candidate.placeOfBirth = place;
    candidate.ageText = age;
    return formatRecord(candidate,
                        ClockSnapshot{.dayOfMonth = day, .month = 11, .year = 2026, .timeText = time},
                        kMakerDetails);
}

TEST(PageModel, ThePageFromTheCounts) {
    Tallied tallied;
    RecordScanner scanner(tallied);
    scanner.feed(entered("Accra", "41", 3, "The Time Now Is :: 09:05AM.") +
                 entered("Lagos\x01", "x", 1, "The Time Now Is :: 11:59PM.") +
                 entered("Accra", "44", 3, "The Time Now Is :: 12:00PM."));
    scanner.finish();
    const ReportInput input{"Desk \xff",
                            {},
                            {{"north", "a.dat", 3, 2, ""}, {"b.dat", "b.dat", 0, 0, "b.dat: gone"}},
                            tallied.tally.counts(),
                            {}};
    const PageModel page = pageModel(input);

    EXPECT_EQ(page.title, "Desk \xef\xbf\xbd");
    EXPECT_EQ(page.records, 3U);
    EXPECT_EQ(page.fileCount, 2U);
    EXPECT_EQ(page.problems, 2U);  // the files' column: two told in a.dat
    EXPECT_EQ(page.unread, 1U);    // b.dat
    EXPECT_EQ(page.first, "2026-12-01 23:59");
    EXPECT_EQ(page.last, "2026-12-03 12:00");
    ASSERT_EQ(page.files.size(), 2U);
    EXPECT_EQ(page.files[0].desk, "north");
    EXPECT_EQ(page.files[1].failure, "b.dat: gone");

    ASSERT_EQ(page.charts.size(), 3U);
    EXPECT_EQ(page.charts[0].id, "days");
    EXPECT_EQ(page.charts[0].bars.size(), 3U);  // the 2nd, without records, too
    EXPECT_EQ(page.charts[0].bars[1].count, 0U);
    EXPECT_EQ(page.charts[1].bars.size(), 24U);
    EXPECT_EQ(page.charts[1].bars[12].count, 1U);
    EXPECT_EQ(page.charts[2].note,
              "Whole-number age answers, in bands of five years; 1 age answer was not a whole number.");
    EXPECT_EQ(page.charts[2].bars.size(), 1U);  // 40 to 44
    EXPECT_EQ(page.charts[2].bars[0].count, 2U);

    ASSERT_EQ(page.ranked.size(), 5U);
    const RankedTable& places = page.ranked[0];
    EXPECT_EQ(places.id, "place-of-birth");
    EXPECT_EQ(places.distinct, 2U);
    ASSERT_EQ(places.rows.size(), 2U);
    EXPECT_EQ(places.rows[0].rank, 1U);
    EXPECT_EQ(places.rows[0].answer, "Accra");
    EXPECT_EQ(places.rows[0].share, "66.7 %");
    EXPECT_EQ(places.rows[1].rank, 2U);
    EXPECT_EQ(places.rows[1].answer, "Lagos\xef\xbf\xbd");
    const RankedTable& streets = page.ranked[2];
    EXPECT_EQ(streets.caption, "Street: 1 distinct answer");
    ASSERT_EQ(streets.rows.size(), 1U);
    EXPECT_TRUE(streets.rows[0].empty);
    EXPECT_EQ(streets.rows[0].answer, "");
}

TEST(PageModel, AnswersNotGivenShowAsOneRow) {
    // A database tells NULL from '': both are no answer.
    ReportCounts counts;
    counts.records = 11;
    counts.ranked[0].top = {{"Accra", 4}, {"", 3}, {"Lagos", 2}, {"", 2}};
    const PageModel page = pageModel(ReportInput{"T", {}, {}, counts, "office.db"});
    const std::vector<RankedRow>& rows = page.ranked[0].rows;
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(std::tuple(rows[0].rank, rows[0].answer, rows[0].empty, rows[0].count),
              std::tuple(1U, "", true, 5U));
    EXPECT_EQ(std::tuple(rows[1].rank, rows[1].answer, rows[1].count), std::tuple(2U, "Accra", 4U));
    EXPECT_EQ(std::tuple(rows[2].rank, rows[2].answer, rows[2].count), std::tuple(3U, "Lagos", 2U));
}

TEST(PageModel, LongAnswersShowTheirFirstTwoHundredCharactersAndTheirLength) {
    std::string e200;
    for (int i = 0; i < 200; ++i) {
        e200 += "\u00E9";
    }
    ReportCounts counts;
    counts.records = 4;
    counts.ranked[0].top = {{std::string(200, 'x'), 1},
                            {e200 + "\u00E9", 1},
                            {std::string(12345, 'y'), 1},
                            {std::string(kKeptBytes, 'z'), 1, 1000000}};  // only its start kept
    const PageModel page = pageModel(ReportInput{"T", {}, {}, counts, "office.db"});
    const std::vector<RankedRow>& rows = page.ranked[0].rows;
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows[0].answer, std::string(200, 'x'));        // whole
    EXPECT_EQ(rows[1].answer, e200 + "\u2026 (402 bytes)");  // cut between characters, not bytes
    EXPECT_EQ(rows[2].answer, std::string(200, 'y') + "\u2026 (12,345 bytes)");
    EXPECT_EQ(rows[3].answer, std::string(200, 'z') + "\u2026 (1,000,000 bytes)");
}

TEST(PageModel, NoRecordsDrawNoBars) {
    const ReportTally tally;
    const PageModel page = pageModel(ReportInput{"T", {}, {}, tally.counts(), {}});
    EXPECT_EQ(page.first, "none");
    EXPECT_EQ(page.last, "none");
    for (const Chart& drawn : page.charts) {
        EXPECT_TRUE(drawn.bars.empty()) << drawn.id;
    }
    EXPECT_TRUE(page.ranked[0].rows.empty());
}

}  // namespace
}  // namespace profiledesk::office
