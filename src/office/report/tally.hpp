#pragma once

// The counts a report is drawn from. Records are added one at a time and only counts are
// kept, so a report of any number of records takes the same room; the one thing that grows
// is the tables of answers, by the number of distinct answers seen (not by their length).

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

// How much of a long answer the page shows, and so how much of it the counts keep: as many
// characters, each of at most four bytes.
inline constexpr std::size_t kShownCharacters = 200;
inline constexpr std::size_t kKeptBytes = 4 * kShownCharacters;

struct AnswerCount {
    std::string answer;  // at most its first kKeptBytes bytes, when counted from files
    std::uint64_t count = 0;
    std::uint64_t length = 0;  // the whole answer's bytes, where `answer` holds only its start
};

// The distinct answers to one question and how often each was given. Each answer is known by
// 88 bits of its XXH3-128 hash and counted in one open-addressing table, so that the room
// taken grows with the number of distinct answers, never with their length. The `kept` given
// most often are followed as the counts change, each with the start of its bytes: an answer's
// bytes are at hand only while it is being added.
class AnswerCounts {
public:
    struct Hash {
        std::uint64_t low = 0;  // where an answer's run of slots starts, and most of what tells it
        std::uint64_t high = 0;
    };
    using HashFunction = Hash (*)(std::string_view text);

    // `hash` is XXH3 but for tests, which give weak ones to make answers share their slots.
    explicit AnswerCounts(std::size_t kept = kTopCount, HashFunction hash = &xxh3);

    void add(std::string_view answer);
    // The same, with the answer's hash from hashOf(), which also starts fetching its slot.
    void add(std::string_view answer, Hash hash);
    [[nodiscard]] Hash hashOf(std::string_view answer) const;
    [[nodiscard]] std::size_t size() const { return size_; }
    // The `kept` answers given most often, most first, ties by their bytes. Answers that share
    // their first kKeptBytes bytes are ordered by their length, then by their hash.
    [[nodiscard]] std::vector<AnswerCount> top() const;

    static Hash xxh3(std::string_view text);

private:
    // A free slot has a count of 0.
    struct Slot {
        std::uint64_t low = 0;
        std::uint64_t highAndCount = 0;  // 24 bits of the hash's upper half, then 40 of count
    };
    // What an answer is ranked by.
    struct Standing {
        std::uint64_t count = 0;
        std::string_view start;  // the first kKeptBytes bytes
        std::uint64_t length = 0;
        Hash hash;
    };
    struct Leader {
        std::uint64_t count = 0;
        std::string start;
        std::uint64_t length = 0;
        Hash hash;
        [[nodiscard]] Standing standing() const { return {count, start, length, hash}; }
    };

    using Slots = std::vector<Slot>;

    static bool before(const Standing& a, const Standing& b);
    static void placeIn(Slots& slots, const Slot& slot);
    void grow();
    // Keeps the leaders right after `answer` was counted `count` times.
    void follow(std::string_view answer, Hash hash, std::uint64_t count);

    std::size_t kept_;
    HashFunction hash_;
    std::size_t size_ = 0;
    Slots slots_;
    std::vector<Leader> leaders_;  // in order, at most kept_
};

// One of kRankedFields: how many distinct answers it had, and the kTopCount given most
// often, most first, ties by their bytes.
struct RankedCounts {
    std::uint64_t distinct = 0;
    std::vector<AnswerCount> top;
};

// A record that needs a look, as the page lists it.
struct LookedAt {
    std::string desk;
    std::string key;
    std::string enteredAt;  // 2026-12-06T15:53
    std::string what;
};
// How many of them the page lists; the rest are counted.
inline constexpr std::size_t kLookedAtShown = 20;

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
    // The records that need a look: how many, how many each rule found, and the first ones.
    std::uint64_t needingALook = 0;
    std::map<std::string, std::uint64_t> looks;
    std::vector<LookedAt> lookedAt;
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
