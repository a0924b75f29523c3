// The fast line matchers against the plain one: a line read straight through or from its right
// must read as trying every way does, and only white space ends an answer read sixteen bytes
// at a time.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/visible.hpp"
#include "record/record_format.hpp"
#include "record/record_match_fast.hpp"
#include "record_samples.hpp"

namespace profiledesk {
namespace {

using testing::kOtherMaker;
using testing::randomClock;
using testing::randomRecord;
using testing::seeded;

// The answers that end where white space stands are found sixteen bytes at a time: only ' ',
// '\t', '\v', '\f' and '\r' end one, wherever in a long answer they fall, and no other byte.
TEST(RecordMatchFast, OnlyWhiteSpaceEndsAnAnswerWhereverItFallsInALongOne) {
    constexpr std::string_view kLead = " Candidate Name :: ";
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        if (c == '\n') {
            continue;
        }
        const bool blank = c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
        for (std::size_t at = 0; at < 34; ++at) {
            std::string name(34, 'n');
            name[at] = c;
            const std::string line = std::string(kLead) + name + " Surname";
            FieldSpans spans{};
            const bool matched = matchRecordLine(6, line, 0, spans);
            EXPECT_EQ(matched, !blank) << "byte " << byte << " at " << at;
            if (matched) {
                EXPECT_EQ(line.substr(spans[static_cast<std::size_t>(Field::firstName)].offset,
                                      spans[static_cast<std::size_t>(Field::firstName)].length),
                          name);
            }
            // The same line read where its end is not known yet, with more bytes after it.
            FieldSpans open{};
            RecordLineMatcher lines;
            const std::string followed = line + "\n" + std::string(40, 'z');
            EXPECT_EQ(lines.matchAt(6, followed, 0, open), blank ? std::string::npos : line.size())
                << "byte " << byte << " at " << at;
        }
    }
}

// Most lines are read straight through, each value to the first white space; trying every way
// the values could be read must give the same on every line, however it was spoilt: a blank
// put in anywhere, a byte taken out, bytes after its end.
TEST(RecordMatchFast, ReadsEveryLineStraightThroughAsTryingEveryWayDoes) {
    std::mt19937 random = seeded(25);
    for (const MakerDetails* maker : {&kMakerDetails, &kOtherMaker}) {
        const std::string record = formatRecord(randomRecord(random), randomClock(random), *maker);
        FieldSpans before{};  // the values of the lines before the one spoilt
        std::size_t lineStart = 0;
        for (std::size_t index = 0; index < kRecordLines; ++index) {
            const std::size_t lineEnd = record.find('\n', lineStart);
            const std::string line = record.substr(lineStart, lineEnd - lineStart);
            std::vector<std::string> spoilt{line, line + "x", line + "\r", line + " "};
            for (std::size_t at = 0; at <= line.size(); ++at) {
                for (const char blank : {' ', '\t', '\v', '\f', '\r'}) {
                    spoilt.push_back(line.substr(0, at) + blank + line.substr(at));
                }
                if (at < line.size()) {
                    spoilt.push_back(line.substr(0, at) + line.substr(at + 1));
                }
            }
            for (const std::string& version : spoilt) {
                const std::string text = record.substr(0, lineStart) + version;
                FieldSpans straight = before;
                FieldSpans tried = before;
                const bool read = matchRecordLine(index, text, lineStart, straight);
                ASSERT_EQ(read, matchRecordLineByTrying(index, text, lineStart, tried))
                    << "line " << index + 1 << ": " << makeVisible(version);
                for (std::size_t field = 0; field < kFieldCount; ++field) {
                    EXPECT_EQ(std::tie(straight.at(field).found, straight.at(field).offset,
                                       straight.at(field).length),
                              std::tie(tried.at(field).found, tried.at(field).offset, tried.at(field).length))
                        << "line " << index + 1 << ", field " << field << ": " << makeVisible(version);
                }
            }
            ASSERT_TRUE(matchRecordLineByTrying(index, record.substr(0, lineEnd), lineStart, before));
            lineStart = lineEnd + 1;
        }
    }
}

}  // namespace
}  // namespace profiledesk
