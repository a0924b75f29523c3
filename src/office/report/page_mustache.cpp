// The report page through kainjow's mustache, header-only and so the same engine on every
// system: every {{value}} is escaped for HTML, so an answer such as <script> stays text. The
// template is built into the program; what it shows comes worked out in the page model.

#include <kainjow/mustache.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "office/report/page_model.hpp"

namespace profiledesk::office {

namespace {

// A section that may be empty has no tag on a line of its own: the engine keeps the line
// end after such a tag when the section is skipped, so the line ends are written inside.
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
  h2, .note { break-after: avoid; }
  .figure, .ranked section, table { break-inside: avoid; }
  .scroll { max-height: none; overflow: visible; }
  svg .bar { fill: #555; }
}
</style>
</head>
<body>
<h1>{{title}}</h1>
<p>{{scope}}</p>
<p id="drawn-from">Drawn from {{drawnFrom}}.</p>

<h2 id="totals">Totals</h2>
<table>
<tbody>
<tr><th>Records</th><td class="n">{{records}}</td></tr>
<tr><th>Files</th><td class="n">{{fileCount}}</td></tr>
<tr><th>First entry</th><td>{{first}}</td></tr>
<tr><th>Last entry</th><td>{{last}}</td></tr>
<tr><th>Problems</th><td class="n">{{problems}}</td></tr>
{{#unread}}<tr><th>Files not read</th><td class="n">{{unread}}</td></tr>
{{/unread}}</tbody>
</table>
<table id="files">
<caption>Records and problems per file</caption>
<thead><tr><th>Desk</th><th>File</th><th class="n">Records</th><th class="n">Problems</th><th>Not read</th></tr></thead>
<tbody>
{{#files}}<tr><td class="answer">{{desk}}</td><td class="answer">{{path}}</td><td class="n">{{records}}</td><td class="n">{{problems}}</td><td>{{failure}}</td></tr>
{{/files}}</tbody>
</table>
<table id="desks">
<caption>Records per desk</caption>
<thead><tr><th>Desk</th><th class="n">Records</th></tr></thead>
<tbody>
{{#desks}}<tr><td class="answer">{{desk}}</td><td class="n">{{records}}</td></tr>
{{/desks}}</tbody>
</table>

{{#charts}}
<h2 id="{{id}}">{{heading}}</h2>
{{#note}}<p class="note">{{note}}</p>{{/note}}
<div class="figure">
{{#hasBars}}<svg viewBox="0 0 {{width}} {{height}}" width="100%" role="img" aria-label="{{heading}}">
<title>{{heading}}</title>
{{#ticks}}<line class="grid" x1="{{x1}}" y1="{{y}}" x2="{{x2}}" y2="{{y}}"/><text x="{{tx}}" y="{{ty}}" text-anchor="end">{{text}}</text>
{{/ticks}}{{#bars}}<rect class="bar" x="{{x}}" y="{{y}}" width="{{w}}" height="{{h}}"><title>{{label}}: {{count}}</title></rect>
{{/bars}}{{#labels}}<text x="{{x}}" y="{{y}}" text-anchor="middle">{{text}}</text>
{{/labels}}</svg>

{{/hasBars}}{{^hasBars}}<p class="none">No records.</p>
{{/hasBars}}<div class="{{box}}">
<table id="{{id}}-table">
<thead><tr><th>{{column}}</th><th class="n">Records</th></tr></thead>
<tbody>
{{#bars}}<tr><td>{{label}}</td><td class="n">{{count}}</td></tr>
{{/bars}}</tbody>
</table>
</div>
</div>
{{/charts}}

<h2 id="looks">Records that need a look</h2>
{{#needingALook}}<p>{{needingALook}} of the records have answers a desk could hardly have meant; the first are listed with their keys, by which the clerk's commands name them.</p>
<div class="tables">
<table id="look-rules">
<caption>What was found</caption>
<thead><tr><th>Rule</th><th class="n">Records</th></tr></thead>
<tbody>
{{#rules}}<tr><td>{{rule}}</td><td class="n">{{count}}</td></tr>
{{/rules}}</tbody>
</table>
<table id="look-records">
<caption>The first records</caption>
<thead><tr><th>Desk</th><th>Entered</th><th>Key</th><th>What</th></tr></thead>
<tbody>
{{#looks}}<tr><td class="answer">{{desk}}</td><td>{{when}}</td><td class="answer">{{key}}</td><td class="answer">{{what}}</td></tr>
{{/looks}}</tbody>
</table>
</div>
{{/needingALook}}{{^needingALook}}<p class="none">None.</p>
{{/needingALook}}
<h2 id="answers">Most frequent answers</h2>
<div class="ranked">
{{#ranked}}<section>
<table id="{{id}}">
<caption>{{caption}}</caption>
<thead><tr><th class="n">#</th><th>Answer</th><th class="n">Records</th><th class="n">Share</th></tr></thead>
<tbody>
{{#rows}}<tr><td class="n">{{rank}}</td><td class="answer">{{#empty}}<span class="none">no answer</span>{{/empty}}{{answer}}</td><td class="n">{{count}}</td><td class="n">{{share}}</td></tr>
{{/rows}}</tbody>
</table>
</section>
{{/ranked}}</div>
</body>
</html>
)";

// A coordinate of a chart, to a tenth.
std::string number(double value) {
    std::array<char, 32> text{};
    const int length = std::snprintf(text.data(), text.size(), "%.1f", value);
    return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

namespace mustache = kainjow::mustache;

// The escapes of the pages drawn before, kept so that a page stays the same bytes: the
// engine's own writes ' as &apos; and leaves / alone.
std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '\'': out += "&#39;"; break;
            case '"': out += "&quot;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '/': out += "&#x2F;"; break;
            default: out += c; break;
        }
    }
    return out;
}

template <typename Item, typename Convert>
mustache::data arrayOf(const std::vector<Item>& items, Convert convert) {
    mustache::list array;
    array.reserve(items.size());
    std::transform(items.begin(), items.end(), std::back_inserter(array), convert);
    return array;
}

mustache::object chartMap(const Chart& chart) {
    mustache::object map{
        {"id", chart.id},
        {"heading", chart.heading},
        {"column", chart.column},
        {"hasBars", !chart.bars.empty()},
        {"box", chart.scrolls ? "scroll" : "whole"},
        {"width", std::to_string(kChartWidth)},
        {"height", std::to_string(kChartHeight)},
        {"bars", arrayOf(chart.bars,
                         [](const BarShape& bar) {
                             return mustache::object{
                                 {"x", number(bar.x)},     {"y", number(bar.y)},
                                 {"w", number(bar.width)}, {"h", number(bar.height)},
                                 {"label", bar.label},     {"count", std::to_string(bar.count)}};
                         })},
        {"labels", arrayOf(chart.labels,
                           [](const AxisLabel& label) {
                               return mustache::object{
                                   {"x", number(label.x)}, {"y", number(label.y)}, {"text", label.text}};
                           })},
        {"ticks", arrayOf(chart.ticks, [](const Tick& tick) {
             return mustache::object{{"x1", number(tick.x1)},    {"x2", number(tick.x2)},
                                     {"y", number(tick.y)},      {"tx", number(tick.textX)},
                                     {"ty", number(tick.textY)}, {"text", std::to_string(tick.value)}};
         })}};
    // An empty text is no section here, unlike in other engines: a chart without a note has none.
    if (!chart.note.empty()) {
        map.emplace("note", chart.note);
    }
    return map;
}

mustache::object rankedMap(const RankedTable& table) {
    return mustache::object{{"id", table.id},
                            {"caption", table.caption},
                            {"rows", arrayOf(table.rows, [](const RankedRow& row) {
                                 return mustache::object{{"rank", std::to_string(row.rank)},
                                                         {"answer", row.answer},
                                                         {"empty", row.empty},
                                                         {"count", std::to_string(row.count)},
                                                         {"share", row.share}};
                             })}};
}

}  // namespace

std::string renderReportPage(const ReportInput& input) {
    const PageModel model = pageModel(input);
    mustache::object page{
        {"title", model.title},
        {"scope", model.scope},
        {"drawnFrom", model.drawnFrom},
        {"records", std::to_string(model.records)},
        {"fileCount", std::to_string(model.fileCount)},
        {"first", model.first},
        {"last", model.last},
        {"problems", std::to_string(model.problems)},
        {"files", arrayOf(model.files,
                          [](const FileRow& file) {
                              return mustache::object{{"desk", file.desk},
                                                      {"path", file.path},
                                                      {"records", std::to_string(file.records)},
                                                      {"problems", std::to_string(file.problems)},
                                                      {"failure", file.failure}};
                          })},
        {"desks",
         arrayOf(model.desks,
                 [](const DeskRow& desk) {
                     return mustache::object{{"desk", desk.desk}, {"records", std::to_string(desk.records)}};
                 })},
        {"charts", arrayOf(model.charts, chartMap)},
        {"ranked", arrayOf(model.ranked, rankedMap)},
        {"rules",
         arrayOf(model.rules,
                 [](const RuleRow& rule) {
                     return mustache::object{{"rule", rule.rule}, {"count", std::to_string(rule.count)}};
                 })},
        {"looks",
         arrayOf(model.looks,
                 [](const LookRow& look) {
                     return mustache::object{
                         {"desk", look.desk}, {"when", look.when}, {"key", look.key}, {"what", look.what}};
                 })},
    };
    if (model.needingALook > 0) {
        page.emplace("needingALook", std::to_string(model.needingALook));
    }
    if (model.unread > 0) {
        page.emplace("unread", std::to_string(model.unread));
    }
    mustache::mustache engine{std::string(kTemplate)};
    engine.set_custom_escape(escaped);
    std::string drawn = engine.render(page);
    if (!engine.is_valid()) {
        throw std::logic_error("the report template: " + engine.error_message());
    }
    return drawn;
}

}  // namespace profiledesk::office
