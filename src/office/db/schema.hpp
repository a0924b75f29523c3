#pragma once

// The records table, as every database holds it: the export's columns, a unique record_key,
// and an index on entered_at. Each database names the types its own way.

#include <string>
#include <string_view>

namespace profiledesk::office {

inline constexpr std::string_view kRecordsTable = "records";
inline constexpr std::string_view kKeyColumn = "record_key";
inline constexpr std::string_view kDayIndex = "records_entered_at";
inline constexpr std::string_view kDayIndexColumn = "entered_at";

// A database's column types, constraints included.
struct SqlTypes {
    std::string_view text;
    std::string_view whole;
    std::string_view figure;
    std::string_view key;
};

// "source, record, ..., record_key".
std::string columnList();
// "source, record, ..., age_after_years": the export's columns alone.
std::string valueColumns();

// "(source TEXT NOT NULL, ..., record_key TEXT NOT NULL UNIQUE)".
std::string columnDefinitions(const SqlTypes& types);
// "source TEXT NOT NULL, ..., age_after_years TEXT NOT NULL": the export's columns alone, for
// a table of rows that have no key yet.
std::string valueDefinitions(const SqlTypes& types);

}  // namespace profiledesk::office
