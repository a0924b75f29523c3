// The report's table of answers: every answer counted apart from every other however its
// slots are shared, through many growths, the most frequent followed with ties by their bytes,
// and of a long answer only its start kept.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "office/report/tally.hpp"

namespace profiledesk::office {
namespace {

// Every answer's run of slots starts at the last slot, and wraps round.
AnswerCounts::Hash sameStart(std::string_view text) {
    const AnswerCounts::Hash hash = AnswerCounts::xxh3(text);
    return {0xFFFF'FFFF'0000'0000 | (hash.low & 0xFFFF'FFFF), hash.high};
}

std::vector<std::pair<std::string, std::uint64_t>> ranked(const AnswerCounts& counts) {
    std::vector<std::pair<std::string, std::uint64_t>> got;
    for (const AnswerCount& answer : counts.top()) {
        got.emplace_back(answer.answer, answer.count);
    }
    return got;
}

TEST(AnswerCounts, EveryAnswerKeepsItsOwnCountThroughGrowthHoweverItsSlotsAreShared) {
    for (const AnswerCounts::HashFunction hash : {&AnswerCounts::xxh3, &sameStart}) {
        AnswerCounts counts(3, hash);
        AnswerCounts all(1500, hash);
        // Answer n is given n % 7 + 1 times, spread out, so that the table grows in between.
        constexpr int kAnswers = 1500;
        for (int round = 0; round < 7; ++round) {
            for (int n = 0; n < kAnswers; ++n) {
                if (round <= n % 7) {
                    counts.add("answer " + std::to_string(n));
                    all.add("answer " + std::to_string(n));
                }
            }
        }
        EXPECT_EQ(counts.size(), std::size_t{kAnswers});
        const auto top = ranked(counts);
        // Seven times: 6, 13, 20, ...; ties in byte order, so "answer 1000" before "answer 1007".
        const std::vector<std::pair<std::string, std::uint64_t>> expected{
            {"answer 1000", 7}, {"answer 1007", 7}, {"answer 1014", 7}};
        EXPECT_EQ(top, expected);
        const auto every = ranked(all);
        ASSERT_EQ(every.size(), std::size_t{kAnswers});
        EXPECT_EQ(every.back(), (std::pair<std::string, std::uint64_t>{"answer 994", 1}));
        for (const auto& [answer, count] : every) {
            EXPECT_EQ(count, std::stoul(answer.substr(7)) % 7 + 1) << answer;
        }
    }
}

TEST(AnswerCounts, EmptyAnswersAndPrefixesAreDistinct) {
    AnswerCounts counts(10, &sameStart);
    for (const std::string_view answer : {"", "a", "ab", "", "a", ""}) {
        counts.add(answer);
    }
    const std::vector<std::pair<std::string, std::uint64_t>> expected{{"", 3}, {"a", 2}, {"ab", 1}};
    EXPECT_EQ(ranked(counts), expected);
}

// Answers whose hashes differ in the bits above the count alone: "a" 0, "b" 1 << 40, ...
AnswerCounts::Hash aboveTheCount(std::string_view text) { return {0, std::uint64_t(text.at(0) - 'a') << 40}; }

TEST(AnswerCounts, HashesThatDifferOnlyAboveTheCountTellAnswersApart) {
    AnswerCounts counts(10, &aboveTheCount);
    for (const std::string_view answer : {"a", "b", "c", "b", "e"}) {
        counts.add(answer);
    }
    const std::vector<std::pair<std::string, std::uint64_t>> expected{{"b", 2}, {"a", 1}, {"c", 1}, {"e", 1}};
    EXPECT_EQ(ranked(counts), expected);
}

TEST(AnswerCounts, TopTenBreaksTiesByBytesWithHighBytesLast) {
    AnswerCounts counts;
    for (const std::string_view answer :
         {"b", "\xC3\x89mile", "Zoe", "a", "B", "b", "Zoe", "c", "d", "e", "f", "g", "h", "i", "j", "k"}) {
        counts.add(answer);
    }
    const std::vector<std::pair<std::string, std::uint64_t>> expected{
        {"Zoe", 2}, {"b", 2}, {"B", 1}, {"a", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"f", 1}, {"g", 1}, {"h", 1}};
    EXPECT_EQ(ranked(counts), expected);
    AnswerCounts sixteen(16);
    for (const std::string_view answer : {"\xC3\x89mile", "a", "b"}) {
        sixteen.add(answer);
    }
    EXPECT_EQ(ranked(sixteen).back(), (std::pair<std::string, std::uint64_t>{"\xC3\x89mile", 1}));
    EXPECT_TRUE(AnswerCounts(0).top().empty());
    EXPECT_TRUE(AnswerCounts().top().empty());
}

TEST(AnswerCounts, OfALongAnswerOnlyItsStartIsKeptWithItsLength) {
    AnswerCounts counts(3);
    const std::string start(kKeptBytes, 'x');
    const std::string shorter = start + "b";
    const std::string longer = start + "aa";  // after `shorter`, though its bytes come first
    for (const std::string& answer : {longer, shorter, longer, shorter, start, std::string("y")}) {
        counts.add(answer);
    }
    EXPECT_EQ(counts.size(), 4U);
    const std::vector<AnswerCount> top = counts.top();
    ASSERT_EQ(top.size(), 3U);
    EXPECT_EQ(std::tuple(top[0].answer, top[0].count, top[0].length), std::tuple(start, 2U, kKeptBytes + 1));
    EXPECT_EQ(std::tuple(top[1].answer, top[1].count, top[1].length), std::tuple(start, 2U, kKeptBytes + 2));
    // An answer no longer than what is kept is whole.
    EXPECT_EQ(std::tuple(top[2].answer, top[2].count, top[2].length),
              std::tuple(start, 1U, std::uint64_t{0}));
}

}  // namespace
}  // namespace profiledesk::office
