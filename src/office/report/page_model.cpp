#include "office/report/page_model.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/utf8.hpp"
#include "office/columns.hpp"

namespace profiledesk::office {

namespace {

constexpr double kLeft = 56;  // room for the figures of the scale
constexpr double kRight = 790;
constexpr double kTop = 20;
constexpr double kBottom = 224;  // the bars' foot; their labels stand below
constexpr std::size_t kMostLabels = 8;
constexpr long long kMostDays = 400;  // days with no records are drawn only up to this span
constexpr long long kMostBands = 60;
// A table beside its chart shows whole up to a day's hours; a longer one scrolls on screen.
constexpr std::size_t kWholeTableRows = 24;

std::string when(const std::optional<EnteredAt>& at) {
    if (!at) {
        return "none";
    }
    std::string text = isoLocalTime(*at);
    std::replace(text.begin(), text.end(), 'T', ' ');
    return text;
}

// "12,345".
std::string withCommas(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0) {
            text += ',';
        }
        text += digits[at];
    }
    return text;
}

// One row for every answer not given: a database can tell NULL from '', the page does not.
std::vector<AnswerCount> oneEmptyRow(const std::vector<AnswerCount>& top) {
    std::vector<AnswerCount> rows;
    for (const AnswerCount& answer : top) {
        const auto empty =
            std::find_if(rows.begin(), rows.end(), [](const AnswerCount& row) { return row.answer.empty(); });
        if (answer.answer.empty() && empty != rows.end()) {
            empty->count += answer.count;
        } else {
            rows.push_back(answer);
        }
    }
    // Most first again, ties by their bytes as before; the empty answer's bytes come first.
    std::stable_sort(rows.begin(), rows.end(), [](const AnswerCount& a, const AnswerCount& b) {
        return a.count > b.count || (a.count == b.count && a.answer.empty() && !b.answer.empty());
    });
    return rows;
}

}  // namespace

std::uint64_t scaleTop(std::uint64_t most) {
    std::uint64_t power = 1;
    while (power * 10 <= most) {
        power *= 10;
    }
    if (most <= power) {
        return power;
    }
    if (most <= 2 * power) {
        return 2 * power;
    }
    return most <= 5 * power ? 5 * power : 10 * power;
}

Chart chart(const std::string& id, const std::string& heading, const std::string& column,
            const std::vector<Bar>& bars) {
    Chart drawn{id, heading, column, {}, {}, {}, {}};
    std::uint64_t most = 0;
    for (const Bar& bar : bars) {
        most = std::max(most, bar.count);
    }
    const std::uint64_t top = scaleTop(std::max<std::uint64_t>(most, 1));
    const double slot = (kRight - kLeft) / static_cast<double>(std::max<std::size_t>(bars.size(), 1));
    const std::size_t labelEvery = std::max<std::size_t>((bars.size() + kMostLabels - 1) / kMostLabels, 1);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const double height = (kBottom - kTop) * static_cast<double>(bar.count) / static_cast<double>(top);
        const double x = kLeft + slot * static_cast<double>(i);
        drawn.bars.push_back({x + slot * 0.1, kBottom - height, slot * 0.8, height, bar.label, bar.count});
        if (i % labelEvery == 0) {
            drawn.labels.push_back({x + slot / 2, kBottom + 16, bar.label});
        }
    }
    std::vector<std::uint64_t> marks{0, top};
    if (top % 2 == 0) {
        marks.insert(marks.begin() + 1, top / 2);
    }
    for (const std::uint64_t value : marks) {
        const double y = kBottom - (kBottom - kTop) * static_cast<double>(value) / static_cast<double>(top);
        drawn.ticks.push_back({kLeft, kRight, y, kLeft - 6, y + 4, value});
    }
    return drawn;
}

std::vector<Bar> dayBars(const std::map<Day, std::uint64_t>& days) {
    std::vector<Bar> bars;
    if (days.empty()) {
        return bars;
    }
    const Day first = days.begin()->first;
    const Day last = days.rbegin()->first;
    if (first.daysUntil(last) >= kMostDays) {
        for (const auto& [day, count] : days) {
            bars.push_back({day.text(), count});
        }
        return bars;
    }
    for (Day day = first; day.daysUntil(last) >= 0; day = day.next()) {
        const auto found = days.find(day);
        bars.push_back({day.text(), found == days.end() ? 0 : found->second});
    }
    return bars;
}

std::vector<Bar> ageBars(const std::map<long long, std::uint64_t>& bands) {
    std::vector<Bar> bars;
    if (bands.empty()) {
        return bars;
    }
    const auto label = [](long long low) {
        return std::to_string(low) + "\xE2\x80\x93" + std::to_string(low + kAgeBand - 1);
    };
    const long long low = bands.begin()->first;
    const long long high = bands.rbegin()->first;
    if ((high - low) / kAgeBand >= kMostBands) {
        for (const auto& [band, count] : bands) {
            bars.push_back({label(band), count});
        }
        return bars;
    }
    for (long long band = low; band <= high; band += kAgeBand) {
        const auto found = bands.find(band);
        bars.push_back({label(band), found == bands.end() ? 0 : found->second});
    }
    return bars;
}

std::string share(std::uint64_t count, std::uint64_t total) {
    std::array<char, 32> text{};
    const double percent = 100.0 * static_cast<double>(count) / static_cast<double>(total);
    const int length = std::snprintf(text.data(), text.size(), "%.1f %%", percent);
    return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

std::string counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string shownAnswer(const AnswerCount& answer) {
    std::string shown = displayable(answer.answer);
    std::size_t at = 0;
    for (std::size_t characters = 0; at < shown.size() && characters < kShownCharacters; ++characters) {
        at += utf8PieceAt(std::string_view(shown).substr(at)).length;
    }
    const std::uint64_t whole = std::max<std::uint64_t>(answer.answer.size(), answer.length);
    if (at == shown.size() && whole == answer.answer.size()) {
        return shown;
    }
    shown.resize(at);
    return shown + "\u2026 (" + withCommas(whole) + (whole == 1 ? " byte)" : " bytes)");
}

std::string scopeOf(const DateRange& dates, bool database) {
    if (!dates.from && !dates.to) {
        return database ? "Every record of the database, each once as collated."
                        : "Every whole record of the files below.";
    }
    std::string scope =
        database ? "The records of the database entered" : "The whole records of the files below entered";
    if (dates.from) {
        scope += " from " + dates.from->text();
    }
    if (dates.to) {
        scope += " to " + dates.to->text();
    }
    return scope + ", both days included.";
}

PageModel pageModel(const ReportInput& input) {
    const ReportCounts& counts = input.counts;
    PageModel page;
    page.title = displayable(input.title);
    page.scope = scopeOf(input.dates, !input.database.empty());
    page.drawnFrom =
        input.database.empty() ? "the record files" : "the database " + displayable(input.database);
    page.records = counts.records;
    page.fileCount = input.files.size();
    page.first = when(counts.first);
    page.last = when(counts.last);
    for (const FileTally& file : input.files) {
        page.files.push_back({displayable(file.desk), displayable(file.path), file.records, file.problems,
                              displayable(file.failure)});
        page.problems += file.problems;
        page.unread += file.failure.empty() ? 0U : 1U;
    }
    for (const auto& [desk, records] : counts.desks) {
        page.desks.push_back({displayable(desk), records});
    }

    page.needingALook = counts.needingALook;
    for (const auto& [rule, records] : counts.looks) {
        page.rules.push_back({displayable(rule), records});
    }
    for (const LookedAt& looked : counts.lookedAt) {
        std::string when = displayable(looked.enteredAt);
        if (when.size() > 10 && when[10] == 'T') {
            when[10] = ' ';
        }
        page.looks.push_back(
            {displayable(looked.desk), when, displayable(looked.key), displayable(looked.what)});
    }

    std::vector<Bar> hours;
    for (std::size_t hour = 0; counts.records > 0 && hour < counts.hours.size(); ++hour) {
        hours.push_back({std::to_string(hour), counts.hours.at(hour)});
    }
    page.charts.push_back(chart("days", "Records per day", "Day", dayBars(counts.days)));
    page.charts.push_back(chart("hours", "Records per hour of the day", "Hour", hours));
    Chart& ages = page.charts.emplace_back(chart("ages", "Age answers", "Age", ageBars(counts.ageBands)));
    ages.note = "Whole-number age answers, in bands of five years; " +
                counted(counts.agesNotNumbers, "age answer was not a whole number.",
                        "age answers were not whole numbers.");
    for (Chart& drawn : page.charts) {
        drawn.scrolls = drawn.bars.size() > kWholeTableRows;
    }

    static constexpr std::array<std::string_view, kRankedCount> kIds{
        "place-of-birth", "education-centre", "street", "nearest-school", "shopping-centre"};
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        RankedTable& table = page.ranked.emplace_back();
        table.id = kIds.at(i);
        table.heading = kRankedHeadings.at(i);
        table.distinct = counts.ranked.at(i).distinct;
        table.caption = table.heading + ": " + counted(table.distinct, "distinct answer", "distinct answers");
        for (const AnswerCount& answer : oneEmptyRow(counts.ranked.at(i).top)) {
            table.rows.push_back({table.rows.size() + 1, shownAnswer(answer), answer.answer.empty(),
                                  answer.count, share(answer.count, counts.records)});
        }
    }
    return page;
}

}  // namespace profiledesk::office
