// The report page through mstch, a mustache engine: every {{value}} is escaped for HTML,
// so an answer such as <script> stays text. The template is built into the program.

#include <mstch/mstch.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iterator>

#include "office/io/columns.hpp"
#include "office/report/page.hpp"

namespace profiledesk::office {

const bool kCanDrawReports = true;

namespace {

// Nothing in the page is fetched: no scripts, fonts, styles or images from anywhere, and
// the page's policy forbids them should an answer ever slip through as markup.
constexpr std::string_view kTemplate = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{{title}}</title>
<style>
body { font-family: sans-serif; margin: 1.5em auto; max-width: 60em; padding: 0 1em; color: #222; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; font-size: 0.9em; margin: 0.6em 0 1.2em; }
caption { text-align: left; font-weight: bold; padding-bottom: 0.3em; }
.ranked table { width: 100%; }
th, td { padding: 0.15em 0.6em; border-bottom: 1px solid #e4e4e4; text-align: left; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
.figure { display: grid; grid-template-columns: minmax(0, 3fr) minmax(12em, 1fr); gap: 1.2em;
          align-items: start; }
.figure svg { width: 100%; height: auto; }
.scroll { max-height: 20em; overflow: auto; }
.ranked { display: grid; grid-template-columns: repeat(auto-fill, minmax(26em, 1fr)); gap: 0 1.5em; }
.answer { word-break: break-all; }
.none { color: #777; font-style: italic; }
svg text { font-size: 14px; fill: #333; }
svg .bar { fill: #3a6ea5; }
svg .grid { stroke: #ddd; stroke-width: 1; }
@media (max-width: 40em) { .figure { grid-template-columns: 1fr; } }
@media print {
  body { margin: 0; max-width: none; font-size: 10pt; }
  .figure, .ranked section, table { break-inside: avoid; }
  .scroll { max-height: none; overflow: visible; }
  svg .bar { fill: #555; }
}
</style>
</head>
<body>
<h1>{{title}}</h1>
<p>{{scope}}</p>

<h2 id="totals">Totals</h2>
<table>
<tbody>
<tr><th>Records</th><td class="n">{{records}}</td></tr>
<tr><th>Files</th><td class="n">{{fileCount}}</td></tr>
<tr><th>First entry</th><td>{{first}}</td></tr>
<tr><th>Last entry</th><td>{{last}}</td></tr>
<tr><th>Problems</th><td class="n">{{problems}}</td></tr>
</tbody>
</table>
<table id="files">
<caption>Records and problems per file</caption>
<thead><tr><th>Desk</th><th>File</th><th class="n">Records</th><th class="n">Problems</th><th>Not read</th></tr></thead>
<tbody>
{{#files}}
<tr><td class="answer">{{desk}}</td><td class="answer">{{path}}</td><td class="n">{{records}}</td><td class="n">{{problems}}</td><td>{{failure}}</td></tr>
{{/files}}
</tbody>
</table>

{{#charts}}
<h2 id="{{id}}">{{heading}}</h2>
{{#note}}<p>{{note}}</p>{{/note}}
<div class="figure">
{{#hasBars}}
<svg viewBox="0 0 {{width}} {{height}}" width="100%" role="img" aria-label="{{heading}}">
<title>{{heading}}</title>
{{#ticks}}<line class="grid" x1="{{x1}}" y1="{{y}}" x2="{{x2}}" y2="{{y}}"/><text x="{{tx}}" y="{{ty}}" text-anchor="end">{{text}}</text>
{{/ticks}}
{{#bars}}<rect class="bar" x="{{x}}" y="{{y}}" width="{{w}}" height="{{h}}"><title>{{label}}: {{count}}</title></rect>
{{/bars}}
{{#labels}}<text x="{{x}}" y="{{y}}" text-anchor="middle">{{text}}</text>
{{/labels}}
</svg>
{{/hasBars}}
{{^hasBars}}<p class="none">No records.</p>{{/hasBars}}
<div class="scroll">
<table id="{{id}}-table">
<thead><tr><th>{{column}}</th><th class="n">Records</th></tr></thead>
<tbody>
{{#bars}}
<tr><td>{{label}}</td><td class="n">{{count}}</td></tr>
{{/bars}}
</tbody>
</table>
</div>
</div>
{{/charts}}

<h2 id="answers">Most frequent answers</h2>
<div class="ranked">
{{#ranked}}
<section>
<table id="{{id}}">
<caption>{{heading}}: {{distinct}} distinct answers</caption>
<thead><tr><th class="n">#</th><th>Answer</th><th class="n">Records</th><th class="n">Share</th></tr></thead>
<tbody>
{{#rows}}
<tr><td class="n">{{rank}}</td><td class="answer">{{#empty}}<span class="none">no answer</span>{{/empty}}{{answer}}</td><td class="n">{{count}}</td><td class="n">{{share}}</td></tr>
{{/rows}}
</tbody>
</table>
</section>
{{/ranked}}
</div>
</body>
</html>
)";

constexpr int kWidth = 800;
constexpr int kHeight = 260;
constexpr double kLeft = 56;  // room for the figures of the scale
constexpr double kRight = 790;
constexpr double kTop = 20;
constexpr double kBottom = 224;  // the bars' foot; their labels stand below
constexpr std::size_t kMostLabels = 8;
constexpr std::size_t kMostDays = 400;  // days with no records are drawn only up to this span
constexpr std::size_t kMostBands = 60;

std::string number(double value) {
    std::array<char, 32> text{};
    const int length = std::snprintf(text.data(), text.size(), "%.1f", value);
    return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

std::string dayText(int date) {
    std::array<char, 32> text{};
    const int length =
        std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", date / 10000, date / 100 % 100, date % 100);
    return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

std::string when(const std::optional<EnteredAt>& at) {
    if (!at) {
        return "none";
    }
    std::string text = isoLocalTime(*at);
    std::replace(text.begin(), text.end(), 'T', ' ');
    return text;
}

// The top of the scale: 1, 2 or 5 times a power of ten, at least `most`.
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

struct Bar {
    std::string label;
    std::uint64_t count = 0;
};

// A bar chart and its table, from the bars in the order shown.
mstch::map chart(const std::string& id, const std::string& heading, const std::string& column,
                 const std::vector<Bar>& bars) {
    mstch::array rects;
    mstch::array labels;
    mstch::array ticks;
    std::uint64_t most = 0;
    for (const Bar& bar : bars) {
        most = std::max(most, bar.count);
    }
    const std::uint64_t top = scaleTop(std::max<std::uint64_t>(most, 1));
    const double slot = (kRight - kLeft) / static_cast<double>(std::max<std::size_t>(bars.size(), 1));
    const std::size_t labelEvery = (bars.size() + kMostLabels - 1) / kMostLabels;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const double height = (kBottom - kTop) * static_cast<double>(bar.count) / static_cast<double>(top);
        const double x = kLeft + slot * static_cast<double>(i);
        rects.emplace_back(mstch::map{{"x", number(x + slot * 0.1)},
                                      {"y", number(kBottom - height)},
                                      {"w", number(slot * 0.8)},
                                      {"h", number(height)},
                                      {"label", bar.label},
                                      {"count", std::to_string(bar.count)}});
        if (i % std::max<std::size_t>(labelEvery, 1) == 0) {
            labels.emplace_back(
                mstch::map{{"x", number(x + slot / 2)}, {"y", number(kBottom + 16)}, {"text", bar.label}});
        }
    }
    std::vector<std::uint64_t> marks{0, top};
    if (top % 2 == 0) {
        marks.insert(marks.begin() + 1, top / 2);
    }
    for (const std::uint64_t value : marks) {
        const double y = kBottom - (kBottom - kTop) * static_cast<double>(value) / static_cast<double>(top);
        ticks.emplace_back(mstch::map{{"x1", number(kLeft)},
                                      {"x2", number(kRight)},
                                      {"y", number(y)},
                                      {"tx", number(kLeft - 6)},
                                      {"ty", number(y + 4)},
                                      {"text", std::to_string(value)}});
    }
    return mstch::map{{"id", id},
                      {"heading", heading},
                      {"column", column},
                      {"note", std::string()},
                      {"hasBars", !bars.empty()},
                      {"width", std::to_string(kWidth)},
                      {"height", std::to_string(kHeight)},
                      {"bars", rects},
                      {"labels", labels},
                      {"ticks", ticks}};
}

std::vector<Bar> dayBars(const std::map<int, std::uint64_t>& counts) {
    namespace chrono = std::chrono;
    const auto dateOf = [](int date) {
        return chrono::sys_days(chrono::year_month_day(chrono::year(date / 10000),
                                                       chrono::month(static_cast<unsigned>(date / 100 % 100)),
                                                       chrono::day(static_cast<unsigned>(date % 100))));
    };
    std::vector<Bar> bars;
    if (counts.empty()) {
        return bars;
    }
    const chrono::sys_days first = dateOf(counts.begin()->first);
    const chrono::sys_days last = dateOf(counts.rbegin()->first);
    if (static_cast<std::size_t>((last - first).count()) >= kMostDays) {
        for (const auto& [date, count] : counts) {
            bars.push_back({dayText(date), count});
        }
        return bars;
    }
    for (chrono::sys_days at = first; at <= last; at += chrono::days{1}) {
        const chrono::year_month_day ymd(at);
        const int date = static_cast<int>(ymd.year()) * 10000 +
                         static_cast<int>(unsigned(ymd.month())) * 100 +
                         static_cast<int>(unsigned(ymd.day()));
        const auto found = counts.find(date);
        bars.push_back({dayText(date), found == counts.end() ? 0 : found->second});
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
    if ((high - low) / kAgeBand >= static_cast<long long>(kMostBands)) {
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

std::string scopeOf(const ReportInput& input) {
    if (!input.dates.from && !input.dates.to) {
        return "Every whole record of the files below.";
    }
    std::string scope = "The whole records of the files below entered";
    if (input.dates.from) {
        scope += " from " + dayText(*input.dates.from);
    }
    if (input.dates.to) {
        scope += " to " + dayText(*input.dates.to);
    }
    return scope + ", both days included.";
}

}  // namespace

std::string renderReportPage(const ReportInput& input) {
    const ReportTally& tally = input.tally;
    mstch::array files;
    std::uint64_t problems = 0;
    for (const FileTally& file : input.files) {
        files.emplace_back(mstch::map{{"desk", displayable(file.desk)},
                                      {"path", displayable(file.path)},
                                      {"records", std::to_string(file.records)},
                                      {"problems", std::to_string(file.problems)},
                                      {"failure", displayable(file.failure)}});
        problems += file.problems + (file.failure.empty() ? 0 : 1);
    }

    std::vector<Bar> hours;
    for (std::size_t hour = 0; tally.records() > 0 && hour < tally.hours().size(); ++hour) {
        hours.push_back({std::to_string(hour), tally.hours().at(hour)});
    }
    mstch::map ages = chart("ages", "Age answers", "Age", ageBars(tally.ageBands()));
    ages["note"] = "Whole-number age answers, in bands of five years; " +
                   std::to_string(tally.agesNotNumbers()) + " age answers were not whole numbers.";
    const mstch::array charts{
        chart("days", "Records per day", "Day", dayBars(tally.days())),
        chart("hours", "Records per hour of the day", "Hour", hours),
        ages,
    };

    mstch::array ranked;
    for (std::size_t i = 0; i < kRankedCount; ++i) {
        const std::vector<AnswerCount> top = tally.top(i);
        mstch::array rows;
        // Each row is made before it is added, so the rows so far number the ranks.
        std::transform(top.begin(), top.end(), std::back_inserter(rows), [&](const AnswerCount& answer) {
            return mstch::map{{"rank", std::to_string(rows.size() + 1)},
                              {"answer", displayable(answer.answer)},
                              {"empty", answer.answer.empty()},
                              {"count", std::to_string(answer.count)},
                              {"share", share(answer.count, tally.records())}};
        });
        static constexpr std::array<std::string_view, kRankedCount> kIds{
            "place-of-birth", "education-centre", "street", "nearest-school", "shopping-centre"};
        ranked.emplace_back(mstch::map{{"id", std::string(kIds.at(i))},
                                       {"heading", std::string(kRankedHeadings.at(i))},
                                       {"distinct", std::to_string(tally.distinct(i))},
                                       {"rows", rows}});
    }

    const mstch::map page{
        {"title", displayable(input.title)},
        {"scope", scopeOf(input)},
        {"records", std::to_string(tally.records())},
        {"fileCount", std::to_string(input.files.size())},
        {"first", when(tally.first())},
        {"last", when(tally.last())},
        {"problems", std::to_string(problems)},
        {"files", files},
        {"charts", charts},
        {"ranked", ranked},
    };
    return mstch::render(std::string(kTemplate), page);
}

}  // namespace profiledesk::office
