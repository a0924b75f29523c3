#pragma once

// The columns every export and collation carries, one row per whole record.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "record/record_scanner.hpp"

namespace profiledesk::office {

inline constexpr std::size_t kColumnCount = 21;

inline constexpr std::array<std::string_view, kColumnCount> kColumnNames{
    "source",
    "record",
    "line",
    "entered_at",
    "first_name",
    "surname",
    "place_of_birth",
    "date_of_birth",
    "age",
    "education_centre",
    "street",
    "coordinator",
    "nearby_business",
    "productivity_company",
    "maintenance_company",
    "zonal_library",
    "library_fee",
    "shopping_centre",
    "nearest_school",
    "years_ahead",
    "age_after_years",
};

// Where each column's value comes from.
enum class ColumnKind : unsigned char { text, whole, figure };
inline constexpr std::array<ColumnKind, kColumnCount> kColumnKinds = [] {
    std::array<ColumnKind, kColumnCount> kinds{};
    kinds.fill(ColumnKind::text);
    kinds[1] = ColumnKind::whole;    // record
    kinds[2] = ColumnKind::whole;    // line
    kinds[19] = ColumnKind::figure;  // years_ahead
    kinds[20] = ColumnKind::figure;  // age_after_years
    return kinds;
}();

// The values of one row, as text: the answers exactly as stored, the figures as the record
// writes them. They stay valid while the record and `source` do.
struct Row {
    std::array<std::string_view, kColumnCount> values;
    std::string recordNumber;
    std::string lineNumber;
    std::string enteredAt;  // 2026-12-06T15:53
};

// Fills `row` from a record of the file named `source`.
void fillRow(std::string_view source, const StoredRecord& record, Row& row);

// "2026-12-06T15:53": ISO 8601 local time, without a zone.
std::string isoLocalTime(const EnteredAt& at);

}  // namespace profiledesk::office
