#include "office/report/tally.hpp"

#include "common/utf8.hpp"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>
#include <stdexcept>

namespace profiledesk::office {

namespace {

constexpr std::size_t kFirstSlots = 64;
constexpr std::uint64_t kTagBits = ~std::uint64_t{0} << 32;

// Where an answer's run of slots starts: the top bits of its hash's upper half, which its
// slot keeps, so that a larger table is filled again from the slots alone.
std::size_t startOf(std::uint64_t hash, std::size_t slotCount) {
    const int bits = std::countr_zero(slotCount);
    return static_cast<std::size_t>((hash & kTagBits) >> (64 - bits));
}

// An answer's index and one must fit in the lower half of its slot.
constexpr std::size_t kMaxAnswers = std::numeric_limits<std::uint32_t>::max() - 1;

// Room made ahead for at most this many answers a question (about 30 MiB of address space
// each, untouched until used); beyond, the lists grow as they fill.
constexpr std::size_t kMostReserved = std::size_t{1} << 20;
// Bytes made room for an answer: most are a word or two.
constexpr std::size_t kAnswerBytes = 12;

// C0 and C1 controls and DEL: HTML does not take them as text.
bool isControl(std::string_view character) {
    const auto lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1) {
        return lead < 0x20 || lead == 0x7F;
    }
    return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

}  // namespace

void addAgeAnswers(ReportCounts& counts, std::string_view age, std::uint64_t count) {
    if (const std::optional<long long> whole = wholeNumber(age)) {
        // Bands start at multiples of five, below zero too: -3 is in -5 to -1.
        const long long band = *whole >= 0 ? *whole / kAgeBand : -((-*whole + kAgeBand - 1) / kAgeBand);
        counts.ageBands[band * kAgeBand] += count;
    } else {
        counts.agesNotNumbers += count;
    }
}

void ReportTally::addRecord(const StoredRecord& record) {
    ++counts_.records;
    const EnteredAt& at = record.enteredAt;
    ++counts_.days[at.date];
    if (at.hour >= 0 && at.hour < 24) {
        ++counts_.hours.at(static_cast<std::size_t>(at.hour));
    }
    if (!counts_.first || at < *counts_.first) {
        counts_.first = at;
    }
    if (!counts_.last || *counts_.last < at) {
        counts_.last = at;
    }
    addAgeAnswers(counts_, record.field(Field::ageText), 1);
    // With many distinct answers the tables outgrow the caches: each answer's slot is fetched
    // while the next answers are hashed, rather than waited for one after another.
    std::array<std::uint64_t, kRankedCount> hashes{};
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        hashes.at(i) = answers_.at(i).hashOf(record.field(kRankedFields.at(i)));
    }
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        answers_.at(i).add(record.field(kRankedFields.at(i)), hashes.at(i));
    }
}

void ReportTally::expectRecords(std::uint64_t records) {
    for (AnswerCounts& answers : answers_) {
        answers.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(records, kMostReserved)));
    }
}

ReportCounts ReportTally::counts() const {
    ReportCounts worked = counts_;
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        RankedCounts& ranked = worked.ranked.at(i);
        ranked.distinct = answers_.at(i).size();
        ranked.top = answers_.at(i).top(kTopCount);
    }
    return worked;
}

AnswerCounts::AnswerCounts(HashFunction hash) : hash_(hash), ends_{0}, slots_(kFirstSlots, 0) {}

void AnswerCounts::reserve(std::size_t answers) {
    arena_.reserve(answers * kAnswerBytes);
    ends_.reserve(answers + 1);
    counts_.reserve(answers);
}

std::uint64_t AnswerCounts::xxh3(std::string_view text) { return XXH3_64bits(text.data(), text.size()); }

std::string_view AnswerCounts::answer(std::size_t index) const {
    return std::string_view(arena_).substr(ends_[index], ends_[index + 1] - ends_[index]);
}

std::uint64_t AnswerCounts::hashOf(std::string_view answer) const {
    const std::uint64_t hash = hash_(answer);
    __builtin_prefetch(&slots_[startOf(hash, slots_.size())]);
    return hash;
}

void AnswerCounts::add(std::string_view answer) { add(answer, hash_(answer)); }

void AnswerCounts::add(std::string_view answer, std::uint64_t hash) {
    const std::uint64_t tag = hash & kTagBits;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = startOf(hash, slots_.size());; at = (at + 1) & mask) {
        const std::uint64_t slot = slots_[at];
        if (slot == 0) {
            break;
        }
        if ((slot & kTagBits) == tag) {
            const std::size_t index = (slot & ~kTagBits) - 1;
            if (this->answer(index) == answer) {
                ++counts_[index];
                return;
            }
        }
    }
    // A new answer; the table stays at most seven eighths full, its runs short.
    if ((counts_.size() + 1) * 8 > slots_.size() * 7) {
        grow();
    }
    if (counts_.size() >= kMaxAnswers) {
        throw std::length_error("more distinct answers than a report can count");
    }
    arena_.append(answer);
    ends_.push_back(arena_.size());
    counts_.push_back(1);
    placeIn(slots_, hash, counts_.size() - 1);
}

void AnswerCounts::placeIn(std::vector<std::uint64_t>& slots, std::uint64_t hash, std::size_t index) {
    const std::size_t mask = slots.size() - 1;
    std::size_t at = startOf(hash, slots.size());
    while (slots[at] != 0) {
        at = (at + 1) & mask;
    }
    slots[at] = (hash & kTagBits) | (index + 1);
}

void AnswerCounts::grow() {
    // Each slot keeps what its place in the larger table is worked out from: no answer is
    // read or hashed again.
    std::vector<std::uint64_t> larger(slots_.size() * 2, 0);
    for (const std::uint64_t slot : slots_) {
        if (slot != 0) {
            placeIn(larger, slot & kTagBits, (slot & ~kTagBits) - 1);
        }
    }
    slots_ = std::move(larger);
}

std::vector<AnswerCount> AnswerCounts::top(std::size_t count) const {
    // A heap of the best seen so far, its worst on top: one pass, whatever the number of answers.
    using Seen = std::pair<std::string_view, std::uint64_t>;
    const auto before = [](const Seen& a, const Seen& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    };
    std::vector<Seen> best;
    best.reserve(std::min(count, counts_.size()) + 1);
    for (std::size_t index = 0; index < counts_.size() && count > 0; ++index) {
        const Seen candidate{answer(index), counts_[index]};
        if (best.size() == count && !before(candidate, best.front())) {
            continue;
        }
        best.push_back(candidate);
        std::push_heap(best.begin(), best.end(), before);
        if (best.size() > count) {
            std::pop_heap(best.begin(), best.end(), before);
            best.pop_back();
        }
    }
    std::sort_heap(best.begin(), best.end(), before);
    std::vector<AnswerCount> top;
    top.reserve(best.size());
    for (const auto& [text, times] : best) {
        top.push_back({std::string(text), times});
    }
    return top;
}

std::optional<long long> wholeNumber(std::string_view text) {
    // Ages band at five years, so values near the limits would overflow the band's end.
    constexpr long long kLimit = 1'000'000'000'000'000'000;
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value > kLimit || value < -kLimit) {
        return std::nullopt;
    }
    return value;
}

std::string displayable(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    (void)replaceNotUtf8(shown, text, isControl);
    return shown;
}

}  // namespace profiledesk::office
