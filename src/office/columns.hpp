#pragma once

// The columns every export and collation carries, one row per whole record: the one table
// of them, from which the CSV header, the JSON keys and both databases' schemas are made.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/status.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// What a column's values are.
enum class ColumnKind : unsigned char {
    text,    // bytes as stored
    whole,   // a whole number
    figure,  // a figure as the record writes it ("-2.5", "1.52416e+12"), kept as text where exactness matters
};

// Where a column's value comes from.
enum class ColumnSource : unsigned char {
    file,       // the name of the file read
    record,     // the record's number in its file, from 1
    line,       // the line of the file it starts on
    enteredAt,  // when it was entered, as ISO 8601 local time
    answer,     // one of the record's values, as stored
};

struct Column {
    std::string_view name;
    ColumnKind kind = ColumnKind::text;
    ColumnSource source = ColumnSource::answer;
    Field field = Field::none;  // the value, for an answer
};

inline constexpr std::size_t kColumnCount = 21;

// clang-format off
inline constexpr std::array<Column, kColumnCount> kColumns{{
    {"source",               ColumnKind::text,   ColumnSource::file},
    {"record",               ColumnKind::whole,  ColumnSource::record},
    {"line",                 ColumnKind::whole,  ColumnSource::line},
    {"entered_at",           ColumnKind::text,   ColumnSource::enteredAt},
    {"first_name",           ColumnKind::text,   ColumnSource::answer, Field::firstName},
    {"surname",              ColumnKind::text,   ColumnSource::answer, Field::surname},
    {"place_of_birth",       ColumnKind::text,   ColumnSource::answer, Field::placeOfBirth},
    {"date_of_birth",        ColumnKind::text,   ColumnSource::answer, Field::dateOfBirth},
    {"age",                  ColumnKind::text,   ColumnSource::answer, Field::ageText},
    {"education_centre",     ColumnKind::text,   ColumnSource::answer, Field::educationCentre},
    {"street",               ColumnKind::text,   ColumnSource::answer, Field::streetName},
    {"coordinator",          ColumnKind::text,   ColumnSource::answer, Field::coordinatorName},
    {"nearby_business",      ColumnKind::text,   ColumnSource::answer, Field::nearbyBusiness},
    {"productivity_company", ColumnKind::text,   ColumnSource::answer, Field::productivityCompany},
    {"maintenance_company",  ColumnKind::text,   ColumnSource::answer, Field::maintenanceCompany},
    {"zonal_library",        ColumnKind::text,   ColumnSource::answer, Field::zonalLibrary},
    {"library_fee",          ColumnKind::text,   ColumnSource::answer, Field::libraryFee},
    {"shopping_centre",      ColumnKind::text,   ColumnSource::answer, Field::shoppingCentre},
    {"nearest_school",       ColumnKind::text,   ColumnSource::answer, Field::nearestSchool},
    {"years_ahead",          ColumnKind::figure, ColumnSource::answer, Field::yearsAhead},
    {"age_after_years",      ColumnKind::figure, ColumnSource::answer, Field::ageAfterYears},
}};
// clang-format on

// The columns that hold a desk's answers: all but the first four.
inline constexpr std::size_t kFirstAnswer = 4;
inline constexpr std::size_t kAnswerCount = kColumnCount - kFirstAnswer;

// The values of one row, as text: the answers exactly as stored, the figures as the record
// writes them. They stay valid while the record and `source` do.
struct Row {
    std::array<std::string_view, kColumnCount> values;
    std::string recordNumber;
    std::string lineNumber;
    std::string enteredAt;  // 2026-12-06T15:53
    // Where known: the record's key, as collate keys it, and the office's review of it.
    std::string_view key;
    std::string_view state;
};

// The hex digits of a record's content hash, with which its key starts.
inline constexpr std::size_t kContentLength = 32;

// A record's key from its content hash and its place among the records of that content in its
// file: "<hash>-2" for the second.
std::string recordKey(std::string_view contentHash, std::size_t place);

// Counts the records of each content met in one file, for their keys. Only the records a
// command shows need counting: a record is shown or not by its content alone, so every earlier
// record of the same content was shown, and counted, too.
class KeyCounter {
public:
    std::string keyOf(std::string_view contentHash) {
        return recordKey(contentHash, ++places_[std::string(contentHash)]);
    }
    void clear() { places_.clear(); }

private:
    std::unordered_map<std::string, std::size_t> places_;
};

// The column an answer is named by (surname), or the usage error that lists those there are.
Result<std::size_t> answerColumn(std::string_view name);

// Fills `row` from a record of the file named `source`.
void fillRow(std::string_view source, const StoredRecord& record, Row& row);

// The number a whole-number column holds for a record.
std::size_t wholeValue(const Column& column, const StoredRecord& record);

// "2026-12-06T15:53": ISO 8601 local time, without a zone.
std::string isoLocalTime(const EnteredAt& at);

}  // namespace profiledesk::office
