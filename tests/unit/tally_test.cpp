// The report's table of answers: every answer counted apart from every other whatever their
// hashes, through many growths, and the ten most frequent ranked with ties by their bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "office/report/tally.hpp"

namespace profiledesk::office {
namespace {

std::uint64_t sameForAll(std::string_view /*text*/) { return 0x1234'5678'9ABC'DEF0; }
// Equal tags, different places: only the bytes tell these answers apart.
std::uint64_t lengthOnly(std::string_view text) { return 0xFFFF'FFFF'0000'0000 | text.size(); }

std::vector<std::pair<std::string, std::uint64_t>> ranked(const AnswerCounts& counts,
                                                          std::size_t count = 10) {
    std::vector<std::pair<std::string, std::uint64_t>> got;
    for (const AnswerCount& answer : counts.top(count)) {
        got.emplace_back(answer.answer, answer.count);
    }
    return got;
}

TEST(AnswerCounts, EveryAnswerKeepsItsOwnCountThroughGrowthWhateverTheHash) {
    for (const AnswerCounts::HashFunction hash : {&AnswerCounts::xxh3, &sameForAll, &lengthOnly}) {
        AnswerCounts counts(hash);
        // Answer n is given n % 7 + 1 times, spread out, so that the table grows in between.
        constexpr int kAnswers = 1500;
        for (int round = 0; round < 7; ++round) {
            for (int n = 0; n < kAnswers; ++n) {
                if (round <= n % 7) {
                    counts.add("answer " + std::to_string(n));
                }
            }
        }
        EXPECT_EQ(counts.size(), std::size_t{kAnswers});
        const auto top = ranked(counts, 3);
        // Seven times: 6, 13, 20, ...; ties in byte order, so "answer 1000" before "answer 1007".
        const std::vector<std::pair<std::string, std::uint64_t>> expected{
            {"answer 1000", 7}, {"answer 1007", 7}, {"answer 1014", 7}};
        EXPECT_EQ(top, expected);
        EXPECT_EQ(ranked(counts, kAnswers).back(), (std::pair<std::string, std::uint64_t>{"answer 994", 1}));
    }
}

TEST(AnswerCounts, EmptyAnswersAndPrefixesAreDistinct) {
    AnswerCounts counts(&sameForAll);
    for (const std::string_view answer : {"", "a", "ab", "", "a", ""}) {
        counts.add(answer);
    }
    const std::vector<std::pair<std::string, std::uint64_t>> expected{{"", 3}, {"a", 2}, {"ab", 1}};
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
    EXPECT_EQ(ranked(counts, 16).back(), (std::pair<std::string, std::uint64_t>{"\xC3\x89mile", 1}));
    EXPECT_TRUE(counts.top(0).empty());
    EXPECT_TRUE(AnswerCounts().top(10).empty());
}

}  // namespace
}  // namespace profiledesk::office
