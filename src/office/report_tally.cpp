#include "office/report_tally.hpp"

#include <algorithm>
#include <charconv>
#include <tuple>

namespace profiledesk::office {

namespace {

auto orderOf(const EnteredAt& at) { return std::tie(at.year, at.month, at.day, at.hour, at.minute); }

// The length of the UTF-8 character at the start of `text`, or 0 if none starts there:
// no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t characterLength(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
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

void ReportTally::addRecord(const StoredRecord& record) {
    ++records_;
    const EnteredAt& at = record.enteredAt;
    ++days_[at.year * 10000 + at.month * 100 + at.day];
    if (at.hour >= 0 && at.hour < 24) {
        ++hours_.at(static_cast<std::size_t>(at.hour));
    }
    if (!first_ || orderOf(at) < orderOf(*first_)) {
        first_ = at;
    }
    if (!last_ || orderOf(*last_) < orderOf(at)) {
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
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = characterLength(text);
        if (length == 0 || isControl(text.substr(0, length))) {
            shown += kReplacement;
            text.remove_prefix(length == 0 ? 1 : length);
        } else {
            shown += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return shown;
}

}  // namespace profiledesk::office
