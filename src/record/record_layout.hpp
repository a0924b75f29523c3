#pragma once

// The 30-line record as it stands in the record file: fixed text with the record's values
// between. The one table here both writes a record and reads one back, so the two cannot
// drift apart.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace profiledesk {

// Every value a record line carries. Some stand on more than one line (the years ahead
// stand on three); a record read back must repeat them exactly.
enum class Field : std::uint8_t {
    none,  // a part of fixed text
    makerName,
    makerInitials,
    noticeText,
    defaultLocation1,
    defaultLocation2,
    contactEmail,
    contactPhone,
    firstName,
    surname,
    placeOfBirth,
    dateOfBirth,
    ageText,
    educationCentre,
    streetName,
    coordinatorName,
    nearbyBusiness,
    productivityCompany,
    maintenanceCompany,
    yearsAhead,
    ageAfterYears,
    shoppingCentre,
    nearestSchool,
    zonalLibrary,
    libraryFee,
    multiple,
    addition,
    timeText,
    dayOfMonth,
    monthName,
    year,
    collectionWebAddress,
    collatorTag,
    collectionPhone,
    departmentLabel,
};
inline constexpr std::size_t kFieldCount = static_cast<std::size_t>(Field::departmentLabel) + 1;

// What a value may hold, which is what tells it from the fixed text around it.
enum class FieldKind : std::uint8_t {
    word,    // an answer: any bytes but white space, possibly none
    number,  // a figure as the stream writes numbers: no white space
    text,    // maker details and the time sentence: anything on one line
};
FieldKind kindOf(Field field);

// One part of a line: fixed text, or a value.
struct LinePart {
    std::string_view text;  // the fixed text, when `field` is none
    Field field = Field::none;
};

inline constexpr std::size_t kRecordLines = 30;
inline constexpr std::size_t kMaxLineParts = 8;
using LineLayout = std::array<LinePart, kMaxLineParts>;  // unused parts are empty text
extern const std::array<LineLayout, kRecordLines> kRecordLayout;

// The values of one record, as text.
using FieldValues = std::array<std::string, kFieldCount>;

// Appends the record's 30 lines, each ending in '\n'.
void renderRecord(const FieldValues& values, std::string& out);

// Where each value of a record read back stands in that record's text.
struct FieldSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool found = false;
};
using FieldSpans = std::array<FieldSpan, kFieldCount>;

// Reads line `index` (0-based, without its line end) of a record by trying each way the
// line's values could be read: the plain reading, which the faster ones
// (record_match_fast.hpp) must agree with on every line. The line is
// `text.substr(lineStart)`; the earlier lines of the record stand before it in `text`, and
// a value seen on them must repeat exactly. On a match the line's values are added to
// `spans`; otherwise `spans` is left as it was.
bool matchRecordLineByTrying(std::size_t index, std::string_view text, std::size_t lineStart,
                             FieldSpans& spans);

// The parts line `index` uses: its unused ones are empty text at its end.
std::size_t partsUsed(std::size_t index);

}  // namespace profiledesk
