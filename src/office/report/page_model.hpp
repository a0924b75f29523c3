#pragma once

// What the report page shows, worked out from the counts: every figure, text and shape of
// the page, in plain structs that the template engine only has to lay out. Geometry is in
// the charts' own units (a chart is kChartWidth by kChartHeight).

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/day.hpp"
#include "office/report/page.hpp"

namespace profiledesk::office {

inline constexpr int kChartWidth = 800;
inline constexpr int kChartHeight = 260;

// One bar of a chart, in the order shown, and its row of the chart's table.
struct Bar {
    std::string label;
    std::uint64_t count = 0;
};

struct BarShape {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    std::string label;
    std::uint64_t count = 0;
};

// A label under the bars, centred on `x`.
struct AxisLabel {
    double x = 0;
    double y = 0;
    std::string text;
};

// A line across the chart at one value of the scale, with the value at its left end.
struct Tick {
    double x1 = 0;
    double x2 = 0;
    double y = 0;
    double textX = 0;
    double textY = 0;
    std::uint64_t value = 0;
};

struct Chart {
    std::string id;
    std::string heading;
    std::string column;  // the heading of the table's first column
    std::string note;    // shown above the chart, if not empty
    std::vector<BarShape> bars;
    std::vector<AxisLabel> labels;
    std::vector<Tick> ticks;
    bool scrolls = false;  // a table too long to show whole beside its chart
};

struct FileRow {
    std::string desk;
    std::string path;
    std::uint64_t records = 0;
    std::uint64_t problems = 0;
    std::string failure;
};

struct DeskRow {
    std::string desk;
    std::uint64_t records = 0;
};

struct RankedRow {
    std::size_t rank = 0;
    std::string answer;
    bool empty = false;  // no answer was given
    std::uint64_t count = 0;
    std::string share;  // "41.2 %" of all records
};

struct RankedTable {
    std::string id;
    std::string heading;
    std::string caption;  // "Street: 12 distinct answers"
    std::uint64_t distinct = 0;
    std::vector<RankedRow> rows;
};

// The page. Every text is displayable: valid UTF-8 without control characters.
// A record that needs a look, and a rule with the records it found.
struct LookRow {
    std::string desk;
    std::string when;
    std::string key;
    std::string what;
};
struct RuleRow {
    std::string rule;
    std::uint64_t count = 0;
};

struct PageModel {
    std::string title;
    std::string scope;
    std::string drawnFrom;  // "the record files", or "the database office.db"
    std::uint64_t records = 0;
    std::size_t fileCount = 0;
    std::string first;  // "2026-12-06 15:53", or "none"
    std::string last;
    std::uint64_t problems = 0;  // told in the files: the sum of the files' column
    std::size_t unread = 0;      // files that could not be read
    std::vector<FileRow> files;
    std::vector<DeskRow> desks;  // by name
    std::vector<Chart> charts;   // days, hours, ages
    std::vector<RankedTable> ranked;
    std::uint64_t needingALook = 0;
    std::vector<RuleRow> rules;  // by their names
    std::vector<LookRow> looks;  // the first of them, in the order entered
};

PageModel pageModel(const ReportInput& input);

// The parts the page is made of.

// The top of a chart's scale: 1, 2 or 5 times a power of ten, at least `most`.
std::uint64_t scaleTop(std::uint64_t most);
// A bar chart of the bars in the order shown, with at most eight labels and the scale's
// 0, middle (when whole) and top marked.
Chart chart(const std::string& id, const std::string& heading, const std::string& column,
            const std::vector<Bar>& bars);
// A bar for each day from the first to the last, or only for the days with records when
// they span 400 days or more.
std::vector<Bar> dayBars(const std::map<Day, std::uint64_t>& days);
// A bar for each band of five years from the lowest to the highest, or only for the bands
// with answers when there would be 60 or more.
std::vector<Bar> ageBars(const std::map<long long, std::uint64_t>& bands);
// "41.2 %".
std::string share(std::uint64_t count, std::uint64_t total);
// "1 distinct answer", "2 distinct answers": `one` and, past one, `many`.
std::string counted(std::uint64_t count, std::string_view one, std::string_view many);
// An answer as the page shows it: whole up to kShownCharacters characters, else that many and
// its whole length ("… (12,345 bytes)"), so that no answer can make a page slow to open.
std::string shownAnswer(const AnswerCount& answer);
// Which records the page counts: of the files, or of a database.
std::string scopeOf(const DateRange& dates, bool database = false);

}  // namespace profiledesk::office
