#pragma once

// The counts a report is drawn from. Records are added one at a time and only counts are
// kept, so a report of any number of records takes the same room; the one thing that grows
// is the tables of answers, by the number of distinct answers seen.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/record_scanner.hpp"

namespace profiledesk::office {

// The answers whose most frequent values the report lists, and their headings.
inline constexpr std::size_t kRankedCount = 5;
inline constexpr std::array<Field, kRankedCount> kRankedFields{
    Field::placeOfBirth,  Field::educationCentre, Field::streetName,
    Field::nearestSchool, Field::shoppingCentre,
};
inline constexpr std::array<std::string_view, kRankedCount> kRankedHeadings{
    "Place of birth", "Education centre", "Street", "Nearest school", "Shopping centre",
};
inline constexpr std::size_t kTopCount = 10;
inline constexpr long long kAgeBand = 5;

struct AnswerCount {
    std::string answer;
    std::uint64_t count = 0;
};

// The distinct answers to one question and how often each was given. Each answer's bytes are
// stored once, end to end in one arena, and found through an open-addressing table keyed by
// their 64-bit hash: nothing is allocated for each answer.
class AnswerCounts {
public:
    using HashFunction = std::uint64_t (*)(std::string_view text);

    // `hash` is XXH3 but for tests, which give weak ones to make answers collide.
    explicit AnswerCounts(HashFunction hash = &xxh3);

    void add(std::string_view answer);
    // The same, with the answer's hash from hashOf(), which also starts fetching its slot.
    void add(std::string_view answer, std::uint64_t hash);
    [[nodiscard]] std::uint64_t hashOf(std::string_view answer) const;
    [[nodiscard]] std::size_t size() const { return counts_.size(); }
    // Makes room for this many distinct answers at once, where the input tells how many there
    // may be: grown a doubling at a time, each list is copied, and its pages touched, again.
    void reserve(std::size_t answers);
    // The `count` answers given most often, most first, ties by their bytes.
    [[nodiscard]] std::vector<AnswerCount> top(std::size_t count) const;

    static std::uint64_t xxh3(std::string_view text);

private:
    [[nodiscard]] std::string_view answer(std::size_t index) const;
    static void placeIn(std::vector<std::uint64_t>& slots, std::uint64_t hash, std::size_t index);
    void grow();

    HashFunction hash_;
    std::string arena_;
    std::vector<std::size_t> ends_;  // where each answer ends in the arena, and the next starts
    std::vector<std::uint64_t> counts_;
    // 0 for a free slot, else the hash's upper half (to pass over most others without
    // reading their bytes) and the answer's index plus one in the lower.
    std::vector<std::uint64_t> slots_;
};

// One of kRankedFields: how many distinct answers it had, and the kTopCount given most
// often, most first, ties by their bytes.
struct RankedCounts {
    std::uint64_t distinct = 0;
    std::vector<AnswerCount> top;
};

// The figures a page is drawn from, whether counted from files or by a database.
struct ReportCounts {
    std::uint64_t records = 0;
    std::optional<EnteredAt> first;
    std::optional<EnteredAt> last;
    std::map<Day, std::uint64_t> days;  // day to records entered on it
    std::array<std::uint64_t, 24> hours{};
    // The lowest age of a band of five years to the whole-number age answers in it.
    std::map<long long, std::uint64_t> ageBands;
    std::uint64_t agesNotNumbers = 0;
    std::array<RankedCounts, kRankedCount> ranked;
    std::map<std::string, std::uint64_t> desks;  // desk name to records
};

// Counts `count` records whose age answer is `age`: in its band if it is a whole number.
void addAgeAnswers(ReportCounts& counts, std::string_view age, std::uint64_t count);

// What one file held: the whole records counted (those in the dates asked for), the
// problems `check` tells, and the reason it could not be read, if it could not.
struct FileTally {
    std::string desk;
    std::string path;
    std::uint64_t records = 0;
    std::uint64_t problems = 0;
    std::string failure;
};

class ReportTally {
public:
    // Up to how many records the input holds, where its size tells.
    void expectRecords(std::uint64_t records);
    void addRecord(const StoredRecord& record);

    // What was counted, with the top answers of each ranked question worked out; the desks
    // are the caller's to fill.
    [[nodiscard]] ReportCounts counts() const;

private:
    ReportCounts counts_;
    std::array<AnswerCounts, kRankedCount> answers_;
};

// An age answer as a whole number ("35", "-2", "007"), if it is one that fits.
std::optional<long long> wholeNumber(std::string_view text);

// The text as valid UTF-8 that HTML takes as text: bytes that are not UTF-8, and each
// control character, become U+FFFD.
std::string displayable(std::string_view text);

}  // namespace profiledesk::office
