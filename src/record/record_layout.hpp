#pragma once

// The 30-line record as it stands in the record file: fixed text with the record's values
// between. The one table here both writes a record and reads one back, so the two cannot
// drift apart.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// Reads line `index` (0-based, without its line end) of a record. The line is
// `text.substr(lineStart)`; the earlier lines of the record stand before it in `text`, and
// a value seen on them must repeat exactly. On a match the line's values are added to
// `spans`; otherwise `spans` is left as it was.
bool matchRecordLine(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans);

// The same by trying each way the line's values could be read, where matchRecordLine() reads
// most lines straight through: the two must agree on every line.
bool matchRecordLineByTrying(std::size_t index, std::string_view text, std::size_t lineStart,
                             FieldSpans& spans);

// Matches the lines of records read one after another, as matchRecordLine() does, where a
// line's end is not known yet: the text runs on past it.
class RecordLineMatcher {
public:
    // Returns where line `index`'s '\n' stands in `text`, or npos when the line does not
    // match or does not end within `text`.
    std::size_t matchAt(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans);
    // Matches the whole record that `text` starts with, if all of it is there with LF ends and
    // no line longer than `maxLineBytes`: returns its length, or 0.
    std::size_t matchRecord(std::string_view text, std::size_t maxLineBytes, FieldSpans& spans);
    // Whether every byte of the record matchRecord() matched last is ASCII: told on the way,
    // from the values' bytes alone on the lines read straight through (their fixed text is).
    [[nodiscard]] bool matchedAscii() const { return ascii_; }

private:
    // `ascii` becomes false where the line is not ASCII.
    std::size_t matchOther(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans,
                           bool& ascii);

    // A desk writes its maker's details and the collector's trailer the same in every record:
    // a line whose values stand on no other line is known again by its bytes, unmatched.
    static constexpr std::size_t kLongestRemembered = 4096;
    struct Remembered {
        std::string line;  // with its '\n'; empty when none is remembered
        std::array<std::pair<Field, FieldSpan>, kMaxLineParts> values{};  // from the line's start
        std::size_t count = 0;                                            // of values
        bool ascii = false;
    };
    std::array<Remembered, kRecordLines> remembered_;
    bool ascii_ = false;
};

}  // namespace profiledesk
