#pragma once

// Reading the records table back, for every command that reads the office's database instead
// of the desks' files: the same rows in the same order, whichever kind of database holds them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "office/columns.hpp"
#include "office/commands.hpp"
#include "office/db/database.hpp"

namespace profiledesk::office::db {

// " WHERE entered_at >= ... AND entered_at < ..." for `dates` (empty when open at both ends),
// its values appended to `values` and numbered after those there: a range over the ISO text,
// which the day index serves. "2026-12-06U" follows every "2026-12-06T..." and comes before
// the next day, so the last day is whole.
std::string dayCondition(const Dialect& dialect, const DateRange& dates, std::vector<std::string>& values,
                         std::string_view joiner = " WHERE ");

// Which records a reader of the database takes. By default those the office holds as current:
// not rejected, not erased on request, not gone from their desk's file.
struct RecordFilter {
    DateRange dates;
    bool everyRecord = false;   // the rejected, erased and gone too
    bool needingALook = false;  // only those some rule of quality.hpp finds fault with
    // Where given, only these: each desk's record numbers.
    const std::map<std::string, std::vector<std::int64_t>>* only = nullptr;
};

// " WHERE ..." for `filter` (the day condition first, so that the day index serves it), its
// values appended to `values` and numbered after those there; empty when it takes every row.
std::string recordsWhere(const Dialect& dialect, const RecordFilter& filter,
                         std::vector<std::string>& values);

// One row of the table, with the record's number and line, and its key and state; its values
// last until the call returns. Returns whether to read on.
using RecordReader =
    std::function<bool(const office::Row& row, std::size_t recordNumber, std::size_t lineNumber)>;

// The rows `filter` takes, in the order of entered_at, then source and record.
Status readRecords(Database& db, const RecordFilter& filter, const RecordReader& read);

}  // namespace profiledesk::office::db
