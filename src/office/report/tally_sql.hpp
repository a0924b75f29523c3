#pragma once

// A report's figures counted by the database the records were collated into: every figure is
// one GROUP BY query whose result rows are read one at a time, so the report's memory stays
// the same however many records and distinct answers the database holds.

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/status.hpp"
#include "office/commands.hpp"
#include "office/report/tally.hpp"

namespace profiledesk::office {

// A database of collated records, read in one read-only transaction so that every figure
// counts the same records.
class RecordsDatabase {
public:
    RecordsDatabase() = default;
    virtual ~RecordsDatabase() = default;
    RecordsDatabase(const RecordsDatabase&) = delete;
    RecordsDatabase& operator=(const RecordsDatabase&) = delete;
    RecordsDatabase(RecordsDatabase&&) = delete;
    RecordsDatabase& operator=(RecordsDatabase&&) = delete;

    // Runs a query and hands over each result row as it comes, its values as text (NULL as
    // empty), valid during the call.
    using RowReader = std::function<void(std::span<const std::string_view>)>;
    virtual Status each(const std::string& query, const RowReader& row) = 0;
    // What orders text by its bytes after a column's name, as the file tally orders answers.
    [[nodiscard]] virtual std::string_view bytesOrder() const = 0;
    // The database as messages and the page name it: never with a password.
    [[nodiscard]] virtual const std::string& name() const = 0;
};

struct OpenedDatabase {
    std::unique_ptr<RecordsDatabase> database;  // null on failure
    Status status = Status::ok();
    bool unsupported = false;  // a database this build cannot read: a usage error
};

// Opens a database collate made, read-only, and checks that it has the records table; a
// SQLite file that is not there is not created.
OpenedDatabase openSqliteRecords(const std::string& path);
OpenedDatabase openPostgresRecords(const std::string& connection);
// Starts the read transaction with `begin`, and fails unless `hasTable` (one row, one value)
// finds the records table: what every opener does before the database is counted.
Status beginReading(RecordsDatabase& database, const std::string& begin, const std::string& hasTable);
// Either, by the form of `db`, as collate's --into names them.
OpenedDatabase openRecordsDatabase(const std::string& db);

// Counts the records entered in `dates`, each once as collated; the desks are the sources.
Status countRecords(RecordsDatabase& database, const DateRange& dates, ReportCounts& counts);

}  // namespace profiledesk::office
