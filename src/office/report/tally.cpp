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
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        Counts& answers = answers_.at(i);
        const std::string_view answer = record.field(kRankedFields.at(i));
        if (const auto found = answers.find(answer); found != answers.end()) {
            ++found->second;
        } else {
            answers.emplace(answer, 1);
        }
    }
}

ReportCounts ReportTally::counts() const {
    ReportCounts worked = counts_;
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        std::vector<std::pair<std::string_view, std::uint64_t>> all(answers_.at(i).begin(),
                                                                    answers_.at(i).end());
        const auto before = [](const auto& a, const auto& b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        };
        const std::size_t kept = std::min(kTopCount, all.size());
        std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept), all.end(), before);
        RankedCounts& ranked = worked.ranked.at(i);
        ranked.distinct = all.size();
        for (std::size_t j = 0; j < kept; ++j) {
            ranked.top.push_back({std::string(all[j].first), all[j].second});
        }
    }
    return worked;
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
