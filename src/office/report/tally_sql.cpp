#include "office/report/tally_sql.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

#include "office/columns.hpp"
#include "office/db/records_read.hpp"
#include "office/db/schema.hpp"
#include "office/quality.hpp"

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

// "SELECT column, COUNT(*) FROM records ... GROUP BY column": the records of each value.
std::string countsBy(std::string_view column, std::string_view from) {
    std::string query("SELECT ");
    query.append(column).append(", COUNT(*)").append(from).append(" GROUP BY ").append(column);
    return query;
}

// Keeps `answer` among the kTopCount most given of `top`, which arrive in byte order: an answer
// given as often as one kept already ranks after it, so only one given more often displaces.
void keepIfTop(std::vector<AnswerCount>& top, AnswerCount answer) {
    const auto byCount = [](const AnswerCount& a, const AnswerCount& b) { return a.count > b.count; };
    if (top.size() == kTopCount) {
        if (answer.count <= top.back().count) {
            return;
        }
        top.pop_back();
    }
    // After every answer given as often: those came first.
    top.insert(std::upper_bound(top.begin(), top.end(), answer, byCount), std::move(answer));
}

}  // namespace

Status countRecords(db::Database& database, const db::RecordFilter& filter, ReportCounts& counts) {
    std::vector<std::string> texts;
    const std::string from =
        " FROM " + std::string(db::kRecordsTable) + db::recordsWhere(database.dialect(), filter, texts);
    const std::vector<db::Value> values = db::textValues(texts);
    const auto each = [&database, &values](const std::string& query, const auto& take) {
        return database.run(query, values, [&take](const db::Row& row) {
            take(row);
            return true;
        });
    };
    const std::string at(db::kDayColumn);
    Status status = database.beginRead();
    status = status.isOk() ? each("SELECT COUNT(*)" + from,
                                  [&counts](const db::Row& row) { counts.records = countOf(row.text(0)); })
                           : status;
    // The first and last entries among the times that read as such: a time a hand mistyped
    // does not hide them.
    const std::string readable =
        std::string(from.find(" WHERE ") == std::string::npos ? " WHERE " : " AND ") + at +
        " LIKE '____-__-__T__:__'";
    status = status.isOk() ? each("SELECT MIN(" + at + "), MAX(" + at + ")" + from + readable,
                                  [&counts](const db::Row& row) {
                                      counts.first = enteredAtOf(row.text(0));
                                      counts.last = enteredAtOf(row.text(1));
                                  })
                           : status;
    // The day and the hour together: at most 24 rows a day.
    status = status.isOk() ? each("SELECT SUBSTR(" + at + ", 1, 13), COUNT(*)" + from + " GROUP BY 1",
                                  [&counts](const db::Row& row) {
                                      const std::optional<EnteredAt> when = enteredAtOf(row.text(0));
                                      const std::uint64_t count = countOf(row.text(1));
                                      if (when) {
                                          counts.days[when->date] += count;
                                          if (when->hour >= 0 && when->hour < 24) {
                                              counts.hours.at(static_cast<std::size_t>(when->hour)) += count;
                                          }
                                      }
                                  })
                           : status;
    // Each distinct age answer once, judged by the same rule as in the files.
    const std::string age(columnOf(Field::ageText));
    status = status.isOk() ? each(countsBy(age, from),
                                  [&counts](const db::Row& row) {
                                      addAgeAnswers(counts, row.text(0), countOf(row.text(1)));
                                  })
                           : status;
    for (std::size_t i = 0; status.isOk() && i < kRankedCount; ++i) {
        const std::string column(columnOf(kRankedFields.at(i)));
        RankedCounts& ranked = counts.ranked.at(i);
        // One read of the column gives both its distinct answers and its most given: each
        // answer's start, count and length in bytes, in byte order, so that of two answers given
        // as often the one read first ranks first, as in the files.
        const bool sqlite = database.dialect().kind == db::Kind::sqlite;
        const std::string query =
            db::sqlOf({"SELECT SUBSTR(", column, ", 1, ", std::to_string(kKeptBytes), "), COUNT(*), ",
                       sqlite ? "LENGTH(CAST(" : "OCTET_LENGTH((", column, sqlite ? " AS BLOB))" : "))", from,
                       " GROUP BY ", column, " ORDER BY ", column, database.dialect().bytesOrder});
        status = each(query, [&ranked](const db::Row& row) {
            if (row.isNull(2)) {
                return;  // NULL: no answer at all, not one more distinct answer
            }
            ++ranked.distinct;
            keepIfTop(ranked.top,
                      AnswerCount{std::string(row.text(0)), countOf(row.text(1)), countOf(row.text(2))});
        });
    }
    const std::string source(kColumns.front().name);
    status = status.isOk() ? each(countsBy(source, from),
                                  [&counts](const db::Row& row) {
                                      counts.desks[std::string(row.text(0))] += countOf(row.text(1));
                                  })
                           : status;
    // What needs a look: each rule's records, and the first of them.
    const std::string looked =
        from + (from.find(" WHERE ") == std::string::npos ? " WHERE " : " AND ") + "looks <> ''";
    status = status.isOk() ? each("SELECT looks, COUNT(*)" + looked + " GROUP BY looks",
                                  [&counts](const db::Row& row) {
                                      const std::uint64_t count = countOf(row.text(1));
                                      counts.needingALook += count;
                                      std::string_view rules = row.text(0);
                                      while (!rules.empty()) {
                                          const std::size_t comma = std::min(rules.find(','), rules.size());
                                          counts.looks[std::string(rules.substr(0, comma))] += count;
                                          rules.remove_prefix(std::min(comma + 1, rules.size()));
                                      }
                                  })
                           : status;
    status = status.isOk() ? each(db::sqlOf({"SELECT ", db::valueColumns(), ", record_key", looked,
                                             " ORDER BY ", at, ", source", database.dialect().bytesOrder,
                                             ", record LIMIT ", std::to_string(kLookedAtShown)}),
                                  [&counts](const db::Row& row) {
                                      std::array<std::string_view, kColumnCount> answers{};
                                      for (std::size_t i = 0; i < kColumnCount; ++i) {
                                          answers.at(i) = row.text(i);
                                      }
                                      counts.lookedAt.push_back(
                                          {std::string(answers.at(0)), std::string(row.text(kColumnCount)),
                                           std::string(answers.at(3)), findingsText(lookAt(answers))});
                                  })
                           : status;
    database.rollback();  // the read ends
    return status;
}

}  // namespace profiledesk::office
