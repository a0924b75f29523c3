#include "office/report/tally_sql.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

#include "office/db/names.hpp"
#include "office/db/schema.hpp"
#include "office/columns.hpp"

namespace profiledesk::office {

namespace {

// A whole number as the database wrote it; 0 for anything else, which a count never is.
std::uint64_t countOf(std::string_view text) {
    std::uint64_t count = 0;
    (void)std::from_chars(text.data(), text.data() + text.size(), count);
    return count;
}

// "2026-12-06T15:53", or its first 13 characters: the day and the hour.
std::optional<EnteredAt> enteredAtOf(std::string_view text) {
    constexpr std::size_t kDay = 10;
    constexpr std::size_t kHourEnd = 13;
    EnteredAt at;
    const std::optional<Day> day = Day::parse(text.substr(0, kDay));
    if (!day || text.size() < kHourEnd || text[kDay] != 'T') {
        return std::nullopt;
    }
    at.date = *day;
    const auto hour = std::from_chars(text.data() + kDay + 1, text.data() + kHourEnd, at.hour);
    if (hour.ec != std::errc{} || hour.ptr != text.data() + kHourEnd) {
        return std::nullopt;
    }
    if (text.size() > kHourEnd + 1) {
        (void)std::from_chars(text.data() + kHourEnd + 1, text.data() + text.size(), at.minute);
    }
    return at;
}

// The column of the records table that holds a field's answers.
std::string_view columnOf(Field field) {
    const auto* found = std::find_if(kColumns.begin(), kColumns.end(), [field](const Column& column) {
        return column.source == ColumnSource::answer && column.field == field;
    });
    return found != kColumns.end() ? found->name : std::string_view();
}

// The dates as a range of entered_at, which its index answers: the texts start with the day,
// so the day after the last is the first text past it.
std::string whereOf(const DateRange& dates) {
    std::string where;
    const std::string column(kDayIndexColumn);
    if (dates.from) {
        where += " WHERE " + column + " >= '" + dates.from->text() + "'";
    }
    if (dates.to) {
        where += (where.empty() ? " WHERE " : " AND ") + column + " < '" + dates.to->next().text() + "'";
    }
    return where;
}

// "SELECT column, COUNT(*) FROM records ... GROUP BY column": the records of each value.
std::string countsBy(std::string_view column, std::string_view from) {
    std::string query("SELECT ");
    query.append(column).append(", COUNT(*)").append(from).append(" GROUP BY ").append(column);
    return query;
}

}  // namespace

OpenedDatabase openRecordsDatabase(const std::string& db) {
    return namesPostgres(db) ? openPostgresRecords(db) : openSqliteRecords(db);
}

Status beginReading(RecordsDatabase& database, const std::string& begin, const std::string& hasTable) {
    Status status = database.each(begin, [](std::span<const std::string_view> /*row*/) {});
    bool found = false;
    if (status.isOk()) {
        status = database.each(hasTable, [&found](std::span<const std::string_view> row) {
            found = !row.empty() && (row[0] == "1" || row[0] == "t");
        });
    }
    if (status.isOk() && !found) {
        status = Status::failure(database.name() + ": has no " + std::string(kRecordsTable) +
                                 " table; collate records into it first");
    }
    return status;
}

Status countRecords(RecordsDatabase& database, const DateRange& dates, ReportCounts& counts) {
    const std::string from = " FROM " + std::string(kRecordsTable) + whereOf(dates);
    const std::string at(kDayIndexColumn);
    Status status = database.each("SELECT COUNT(*), MIN(" + at + "), MAX(" + at + ")" + from,
                                  [&counts](std::span<const std::string_view> row) {
                                      counts.records = countOf(row[0]);
                                      counts.first = enteredAtOf(row[1]);
                                      counts.last = enteredAtOf(row[2]);
                                  });
    // The day and the hour together: at most 24 rows a day.
    if (status.isOk()) {
        status = database.each("SELECT SUBSTR(" + at + ", 1, 13), COUNT(*)" + from + " GROUP BY 1",
                               [&counts](std::span<const std::string_view> row) {
                                   const std::optional<EnteredAt> when = enteredAtOf(row[0]);
                                   const std::uint64_t count = countOf(row[1]);
                                   if (when) {
                                       counts.days[when->date] += count;
                                       if (when->hour >= 0 && when->hour < 24) {
                                           counts.hours.at(static_cast<std::size_t>(when->hour)) += count;
                                       }
                                   }
                               });
    }
    // Each distinct age answer once, judged by the same rule as in the files.
    const std::string age(columnOf(Field::ageText));
    if (status.isOk()) {
        status = database.each(countsBy(age, from), [&counts](std::span<const std::string_view> row) {
            addAgeAnswers(counts, row[0], countOf(row[1]));
        });
    }
    for (std::size_t i = 0; status.isOk() && i < kRankedCount; ++i) {
        const std::string column(columnOf(kRankedFields.at(i)));
        RankedCounts& ranked = counts.ranked.at(i);
        std::string distinct("SELECT COUNT(DISTINCT ");
        distinct.append(column).append(")").append(from);
        status = database.each(distinct, [&ranked](std::span<const std::string_view> row) {
            ranked.distinct = countOf(row[0]);
        });
        if (status.isOk()) {
            // Most first, ties by their bytes, as in the files.
            std::string top = countsBy(column, from);
            top.append(" ORDER BY 2 DESC, ").append(column).append(database.bytesOrder());
            top.append(" LIMIT ").append(std::to_string(kTopCount));
            status = database.each(top, [&ranked](std::span<const std::string_view> row) {
                ranked.top.push_back({std::string(row[0]), countOf(row[1])});
            });
        }
    }
    const std::string source(kColumns.front().name);
    if (status.isOk()) {
        status = database.each(countsBy(source, from), [&counts](std::span<const std::string_view> row) {
            counts.desks[std::string(row[0])] += countOf(row[1]);
        });
    }
    return status;
}

}  // namespace profiledesk::office
