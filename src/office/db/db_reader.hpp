#pragma once

// Reading back the records table that collate fills, from a SQLite file or a PostgreSQL
// connection (the forms collate's --into takes), one row at a time, never writing to it.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"
#include "office/commands.hpp"
#include "office/columns.hpp"

namespace profiledesk::office {

// One row of the table; the row's values last until the call returns. Returns whether to
// read on.
using RowReader = std::function<bool(const Row& row, std::size_t recordNumber, std::size_t lineNumber)>;

struct DatabaseRead {
    Status status = Status::ok();
    bool unsupported = false;  // a database this build cannot read: a usage error
};

// The rows entered within `dates`, by the entered_at index, in the order of entered_at, then
// source and record. `option` ("--from-db") starts a message about the database's name.
DatabaseRead readRecordRows(const std::string& database, std::string_view option, const DateRange& dates,
                            const RowReader& read);

// The SQL condition on entered_at for `dates` ("" when open at both ends), its values in
// `values`: a range over the ISO text, which the index serves.
std::string dayCondition(const DateRange& dates, std::vector<std::string>& values,
                         std::string_view placeholder);

DatabaseRead readSqliteRows(const std::string& path, const DateRange& dates, const RowReader& read);
DatabaseRead readPostgresRows(const std::string& connection, std::string_view option, const DateRange& dates,
                              const RowReader& read);

}  // namespace profiledesk::office
