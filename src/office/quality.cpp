#include "office/quality.hpp"

#include <charconv>
#include <cmath>
#include <optional>

#include "common/day.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

namespace {

constexpr double kOldest = 130;

std::size_t columnOf(std::string_view name) {
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (kColumns.at(i).name == name) {
            return i;
        }
    }
    return kColumnCount;
}

const std::size_t kAge = columnOf("age");
const std::size_t kDateOfBirth = columnOf("date_of_birth");
const std::size_t kYearsAhead = columnOf("years_ahead");
const std::size_t kAgeAfterYears = columnOf("age_after_years");
// The first answer asked after the two numbers: where it holds a word, both numbers were read.
const std::size_t kAfterNumbers = columnOf("education_centre");

// "35" → "35", "35.5" → "35.5": a figure as a clerk reads it.
std::string shown(double figure) {
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), figure);
    return {text.data(), written.ptr};
}

// A date of birth as desks type it: day, month and year (or year, month and day), parted by
// '-', '/' or '.'. Day and month may be either way round; a year has four digits.
std::optional<Day> birthDay(std::string_view text) {
    std::array<int, 3> parts{};
    std::array<std::size_t, 3> widths{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto read = std::from_chars(text.data() + at, text.data() + text.size(), parts.at(i));
        if (read.ec != std::errc{}) {
            return std::nullopt;
        }
        widths.at(i) = static_cast<std::size_t>(read.ptr - (text.data() + at));
        at = static_cast<std::size_t>(read.ptr - text.data());
        if (i < 2) {
            if (at >= text.size() || (text[at] != '-' && text[at] != '/' && text[at] != '.')) {
                return std::nullopt;
            }
            ++at;
        }
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    auto [day, month, year] = parts;
    if (widths[0] == 4) {
        std::swap(day, year);
    } else if (widths[2] != 4) {
        return std::nullopt;
    }
    if (month > 12 && day <= 12) {
        std::swap(day, month);  // month first, as some keyboards' habits have it
    }
    const std::string iso = std::to_string(year) + (month < 10 ? "-0" : "-") + std::to_string(month) +
                            (day < 10 ? "-0" : "-") + std::to_string(day);
    return year >= 1000 && year <= 9999 ? Day::parse(iso) : std::nullopt;
}

// An answer as a finding quotes it: whole up to kQuotedBytes bytes, else its start cut on a
// character's first byte and its whole length, so that a huge answer makes no huge message.
std::string quoted(std::string_view answer) {
    constexpr std::size_t kQuotedBytes = 200;
    if (answer.size() <= kQuotedBytes) {
        return std::string(answer);
    }
    std::size_t cut = kQuotedBytes;
    while (cut > 0 && (static_cast<unsigned char>(answer[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    return std::string(answer.substr(0, cut)) + "\u2026 (" + std::to_string(answer.size()) + " bytes)";
}

}  // namespace

namespace {

void lookInto(const std::array<std::string_view, kColumnCount>& values, std::optional<Day> entered,
              bool texts, std::vector<Finding>& findings);

// Adds a finding; its text, which costs more than the look itself, only where it is wanted.
template <typename Text>
void add(std::vector<Finding>& findings, bool texts, std::string_view rule, const Text& text) {
    findings.push_back({rule, texts ? std::string(text()) : std::string()});
}

}  // namespace

std::vector<Finding> lookAt(const std::array<std::string_view, kColumnCount>& values, bool texts) {
    std::vector<Finding> findings;
    lookInto(values, Day::parse(values.at(3).substr(0, 10)), texts, findings);
    return findings;
}

std::vector<Finding> lookAt(const StoredRecord& record, bool texts) {
    std::vector<Finding> findings;
    lookAt(record, findings, texts);
    return findings;
}

void lookAt(const StoredRecord& record, std::vector<Finding>& findings, bool texts) {
    std::array<std::string_view, kColumnCount> values{};
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        values.at(i) = record.field(kColumns.at(i).field);
    }
    lookInto(values, record.enteredAt.date, texts, findings);
}

namespace {

void lookInto(const std::array<std::string_view, kColumnCount>& values, std::optional<Day> entered,
              bool texts, std::vector<Finding>& findings) {
    findings.clear();
    // A desk reads one word a question: an empty answer means the reading stopped there, and
    // every answer after it is empty too. Empty among given ones, a hand made it so.
    std::size_t lastGiven = kFirstAnswer;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        if (kColumns.at(i).kind == ColumnKind::text && !values.at(i).empty()) {
            lastGiven = i + 1;
        }
    }
    std::size_t firstEmpty = kColumnCount;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        if (kColumns.at(i).kind != ColumnKind::text || !values.at(i).empty()) {
            continue;
        }
        if (i >= lastGiven) {
            firstEmpty = std::min(firstEmpty, i);
        } else {
            add(findings, texts, kEmptyAnswer,
                [&] { return std::string(kColumns.at(i).name) + " is empty"; });
        }
    }
    if (firstEmpty < kColumnCount) {
        add(findings, texts, kEndedEarly, [&] {
            return "the answers from " + std::string(kColumns.at(firstEmpty).name) +
                   " on are empty: the input ended early";
        });
    }

    const std::string_view ageText = values.at(kAge);
    // A plain double beside a flag, not an optional reset on the way: mingw's g++ 12 at -O3
    // takes such an optional's value for unset where it is read.
    const std::optional<double> figure = parseFigure(ageText);
    const bool hasAge = figure && std::isfinite(*figure);
    const double age = hasAge ? *figure : 0.0;
    if (!ageText.empty() && !hasAge) {
        add(findings, texts, kAgeNotNumber,
            [&] { return "the age '" + quoted(ageText) + "' is not a number"; });
    } else if (hasAge && (age < 0 || age > kOldest)) {
        add(findings, texts, kAgeOutOfRange,
            [&] { return "the age " + quoted(ageText) + " is not from 0 to 130"; });
    }
    // The figures hold the age given again and the years ahead: where the answers reached past
    // them, both were read.
    const bool numbersRead = kAfterNumbers < firstEmpty;
    const std::optional<double> years = parseFigure(values.at(kYearsAhead));
    const std::optional<double> after = parseFigure(values.at(kAgeAfterYears));
    if (numbersRead && years && (*years < 0 || *years > kOldest)) {
        add(findings, texts, kYearsOutOfRange,
            [&] { return "the years ahead " + quoted(values.at(kYearsAhead)) + " are not from 0 to 130"; });
    }
    if (numbersRead && hasAge && years && after) {
        const double again = *after - *years;
        if (std::fabs(again - age) > 0.5) {
            add(findings, texts, kAgesDisagree,
                [&] { return "the two age answers disagree: " + quoted(ageText) + " and " + shown(again); });
        }
    }

    const std::string_view born = values.at(kDateOfBirth);
    if (!born.empty()) {
        const std::optional<Day> birth = birthDay(born);
        if (!birth) {
            add(findings, texts, kBirthNotDate,
                [&] { return "the date of birth '" + quoted(born) + "' is not a date"; });
        } else if (hasAge && entered && *birth <= *entered) {
            long long yearsOld = entered->year() - birth->year();
            if (entered->month() < birth->month() ||
                (entered->month() == birth->month() && entered->day() < birth->day())) {
                --yearsOld;
            }
            // A day and month that could be either way round may make a year's difference.
            if (std::fabs(static_cast<double>(yearsOld) - age) > 1) {
                add(findings, texts, kBirthAgeDisagree, [&] {
                    return "the age " + quoted(ageText) + " does not agree with the date of birth " +
                           quoted(born) + " (" + std::to_string(yearsOld) + " when entered)";
                });
            }
        } else if (entered && *birth > *entered) {
            add(findings, texts, kBirthAgeDisagree, [&] {
                return "the date of birth " + quoted(born) + " is after the day the record was entered";
            });
        }
    }
}

}  // namespace

std::string ruleList(const std::vector<Finding>& findings) {
    std::string list;
    for (const Finding& finding : findings) {
        list.append(list.empty() ? "" : ",").append(finding.rule);
    }
    return list;
}

std::string findingsText(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& finding : findings) {
        text.append(text.empty() ? "" : "; ").append(finding.what);
    }
    return text;
}

}  // namespace profiledesk::office
