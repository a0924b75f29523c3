#include "office/report/tally.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <charconv>

namespace profiledesk::office {

namespace {

// C0 and C1 controls and DEL: HTML does not take them as text.
bool isControl(std::string_view character) {
    const auto lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1) {
        return lead < 0x20 || lead == 0x7F;
    }
    return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

}  // namespace

void ReportTally::addRecord(const StoredRecord& record) {
    ++records_;
    const EnteredAt& at = record.enteredAt;
    ++days_[at.date];
    if (at.hour >= 0 && at.hour < 24) {
        ++hours_.at(static_cast<std::size_t>(at.hour));
    }
    if (!first_ || at < *first_) {
        first_ = at;
    }
    if (!last_ || *last_ < at) {
        last_ = at;
    }
    if (const std::optional<long long> age = wholeNumber(record.field(Field::ageText))) {
        // Bands start at multiples of five, below zero too: -3 is in -5 to -1.
        const long long band = *age >= 0 ? *age / kAgeBand : -((-*age + kAgeBand - 1) / kAgeBand);
        ++ageBands_[band * kAgeBand];
    } else {
        ++agesNotNumbers_;
    }
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        Counts& counts = answers_.at(i);
        const std::string_view answer = record.field(kRankedFields.at(i));
        if (const auto found = counts.find(answer); found != counts.end()) {
            ++found->second;
        } else {
            counts.emplace(answer, 1);
        }
    }
}

std::vector<AnswerCount> ReportTally::top(std::size_t ranked, std::size_t count) const {
    std::vector<AnswerCount> all;
    all.reserve(answers_.at(ranked).size());
    for (const auto& [answer, seen] : answers_.at(ranked)) {
        all.push_back({answer, seen});
    }
    const auto before = [](const AnswerCount& a, const AnswerCount& b) {
        return a.count != b.count ? a.count > b.count : a.answer < b.answer;
    };
    const std::size_t kept = std::min(count, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept), all.end(), before);
    all.resize(kept);
    return all;
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
