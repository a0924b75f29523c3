#include "office/report/tally.hpp"

#include "common/utf8.hpp"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <stdexcept>
#include <tuple>

namespace profiledesk::office {

namespace {

constexpr std::size_t kFirstSlots = 64;
constexpr int kCountBits = 40;
constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
// Where an answer's run of slots starts: the top bits of its hash's lower half, which its
// slot keeps, so that a larger table is filled again from the slots alone.
std::size_t startOf(std::uint64_t low, std::size_t slotCount) {
    const int bits = std::countr_zero(slotCount);
    return static_cast<std::size_t>(low >> (64 - bits));
}

// The 88 bits of the hash that tell an answer: a slot has room for no more beside its count.
bool sameAnswer(const AnswerCounts::Hash& a, const AnswerCounts::Hash& b) {
    return a.low == b.low && ((a.high ^ b.high) & ~kCountMask) == 0;
}

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
    std::array<AnswerCounts::Hash, kRankedCount> hashes{};
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        hashes.at(i) = answers_.at(i).hashOf(record.field(kRankedFields.at(i)));
    }
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        answers_.at(i).add(record.field(kRankedFields.at(i)), hashes.at(i));
    }
}

ReportCounts ReportTally::counts() const {
    ReportCounts worked = counts_;
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        RankedCounts& ranked = worked.ranked.at(i);
        ranked.distinct = answers_.at(i).size();
        ranked.top = answers_.at(i).top();
    }
    return worked;
}

AnswerCounts::AnswerCounts(std::size_t kept, HashFunction hash)
    : kept_(kept), hash_(hash), slots_(kFirstSlots) {
    leaders_.reserve(kept_ + 1);
}

AnswerCounts::Hash AnswerCounts::xxh3(std::string_view text) {
    const XXH128_hash_t hash = XXH3_128bits(text.data(), text.size());
    return {hash.low64, hash.high64};
}

AnswerCounts::Hash AnswerCounts::hashOf(std::string_view answer) const {
    const Hash hash = hash_(answer);
    __builtin_prefetch(&slots_[startOf(hash.low, slots_.size())]);
    return hash;
}

void AnswerCounts::add(std::string_view answer) { add(answer, hash_(answer)); }

void AnswerCounts::add(std::string_view answer, Hash hash) {
    const std::uint64_t high = hash.high & ~kCountMask;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = startOf(hash.low, slots_.size());; at = (at + 1) & mask) {
        Slot& slot = slots_[at];
        if ((slot.highAndCount & kCountMask) == 0) {
            break;
        }
        if (sameAnswer({slot.low, slot.highAndCount}, hash)) {
            if ((slot.highAndCount & kCountMask) == kCountMask) {
                throw std::length_error("an answer given more often than a report can count");
            }
            follow(answer, hash, ++slot.highAndCount & kCountMask);
            return;
        }
    }
    // A new answer; the table stays at most seven eighths full, its runs short.
    if ((size_ + 1) * 8 > slots_.size() * 7) {
        grow();
    }
    placeIn(slots_, Slot{hash.low, high | 1});
    ++size_;
    follow(answer, hash, 1);
}

void AnswerCounts::placeIn(Slots& slots, const Slot& slot) {
    const std::size_t mask = slots.size() - 1;
    std::size_t at = startOf(slot.low, slots.size());
    while ((slots[at].highAndCount & kCountMask) != 0) {
        at = (at + 1) & mask;
    }
    slots[at] = slot;
}

void AnswerCounts::grow() {
    // Each slot keeps what its place in the larger table is worked out from: no answer is
    // needed again.
    Slots larger(slots_.size() * 2);
    for (const Slot& slot : slots_) {
        if ((slot.highAndCount & kCountMask) != 0) {
            placeIn(larger, slot);
        }
    }
    slots_ = std::move(larger);
}

bool AnswerCounts::before(const Standing& a, const Standing& b) {
    if (a.count != b.count) {
        return a.count > b.count;
    }
    // Starts that differ order their answers as the whole bytes would: a start shorter than
    // the other's is its whole answer. One comparison: where every answer is new, each is
    // compared with the last leader.
    if (const int order = a.start.compare(b.start); order != 0) {
        return order < 0;
    }
    return std::tuple(a.length, a.hash.low, a.hash.high & ~kCountMask) <
           std::tuple(b.length, b.hash.low, b.hash.high & ~kCountMask);
}

void AnswerCounts::follow(std::string_view answer, Hash hash, std::uint64_t count) {
    if (kept_ == 0) {
        return;
    }
    const Standing standing{count, answer.substr(0, kKeptBytes), answer.size(), hash};
    // A leader's count only grows, which puts it before the last; any other answer must
    // pass the last to be kept.
    if (leaders_.size() == kept_ && !before(standing, leaders_.back().standing())) {
        return;
    }
    auto at = std::find_if(leaders_.begin(), leaders_.end(),
                           [&hash](const Leader& leader) { return sameAnswer(leader.hash, hash); });
    if (at != leaders_.end()) {
        at->count = count;
    } else {
        if (leaders_.size() == kept_) {
            leaders_.pop_back();
        }
        leaders_.push_back({count, std::string(standing.start), standing.length, hash});
        at = leaders_.end() - 1;
    }
    for (; at != leaders_.begin() && before(at->standing(), (at - 1)->standing()); --at) {
        std::iter_swap(at, at - 1);
    }
}

std::vector<AnswerCount> AnswerCounts::top() const {
    std::vector<AnswerCount> top(leaders_.size());
    std::transform(leaders_.begin(), leaders_.end(), top.begin(), [](const Leader& leader) {
        return AnswerCount{leader.start, leader.count,
                           leader.length > leader.start.size() ? leader.length : 0};
    });
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
