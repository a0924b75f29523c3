// Reading the records table back: the SQLite side here, PostgreSQL in a file of its own,
// which a build without libpq replaces.

#include "office/db/db_reader.hpp"

#include <sqlite3.h>

#include <array>
#include <memory>

#include "office/db/names.hpp"
#include "office/db/schema.hpp"
#include "office/db/sqlite_handles.hpp"

namespace profiledesk::office {

namespace {

// How long a database that collate is writing is waited for: its final insert, no more.
constexpr int kWaitMilliseconds = 5000;

DatabaseRead failed(const std::string& path, sqlite3* db, int code) {
    const std::string reason = (code & 0xff) == SQLITE_NOTADB ? "not a SQLite database"
                               : (code & 0xff) == SQLITE_BUSY ? "the database is locked by another program"
                               : db != nullptr                ? sqlite3_errmsg(db)
                                                              : sqlite3_errstr(code);
    return {Status::failure(path + ": " + reason), false};
}

}  // namespace

std::string dayCondition(const DateRange& dates, std::vector<std::string>& values,
                         std::string_view placeholder) {
    std::string condition;
    const auto add = [&](std::string_view comparison, std::string value) {
        values.push_back(std::move(value));
        condition.append(condition.empty() ? " WHERE " : " AND ")
            .append(kDayIndexColumn)
            .append(comparison)
            .append(placeholder);
        if (placeholder.starts_with('$')) {
            condition.append(std::to_string(values.size()));
        }
    };
    if (dates.from) {
        add(" >= ", dates.from->text());
    }
    if (dates.to) {
        // "2026-12-06U" follows every "2026-12-06T..." and comes before the next day, even a
        // day the calendar has not (31 February), as the days of a file are ordered.
        add(" < ", dates.to->text() + "U");
    }
    return condition;
}

DatabaseRead readRecordRows(const std::string& database, std::string_view option, const DateRange& dates,
                            const RowReader& read) {
    return namesPostgres(database) ? readPostgresRows(database, option, dates, read)
                                   : readSqliteRows(database, dates, read);
}

DatabaseRead readSqliteRows(const std::string& path, const DateRange& dates, const RowReader& read) {
    sqlite3* raw = nullptr;
    // Read-only: a name mistyped is told, never made into a new, empty database.
    const int code =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_EXRESCODE, nullptr);
    const Database db(raw);
    if (code != SQLITE_OK) {
        return failed(path, db.get(), code);
    }
    (void)sqlite3_busy_timeout(db.get(), kWaitMilliseconds);
    std::vector<std::string> values;
    const std::string sql = "SELECT " + columnList() + " FROM " + std::string(kRecordsTable) +
                            dayCondition(dates, values, "?") + " ORDER BY " + std::string(kDayIndexColumn) +
                            ", source, record";
    sqlite3_stmt* prepared = nullptr;
    int step = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &prepared, nullptr);
    const Statement statement(prepared);
    if (step != SQLITE_OK) {
        return failed(path, db.get(), step);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        (void)sqlite3_bind_text(statement.get(), static_cast<int>(i + 1), values[i].c_str(), -1,
                                SQLITE_STATIC);
    }
    Row row;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::array<std::size_t, 2> numbers{};  // the record and its line
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const int at = static_cast<int>(i);
            if (kColumns.at(i).kind == ColumnKind::whole) {
                numbers.at(kColumns.at(i).source == ColumnSource::record ? 0 : 1) =
                    static_cast<std::size_t>(sqlite3_column_int64(statement.get(), at));
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), at));
            row.values.at(i) =
                text == nullptr
                    ? std::string_view()
                    : std::string_view(text,
                                       static_cast<std::size_t>(sqlite3_column_bytes(statement.get(), at)));
        }
        if (!read(row, numbers[0], numbers[1])) {
            return {};
        }
    }
    return step == SQLITE_DONE ? DatabaseRead{} : failed(path, db.get(), step);
}

}  // namespace profiledesk::office
