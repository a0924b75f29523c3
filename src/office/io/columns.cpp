#include "office/io/columns.hpp"

#include <string>

namespace profiledesk::office {

namespace {

// The record's fields behind columns 4 to 20, in column order.
constexpr std::array<Field, kColumnCount - 4> kAnswerFields{
    Field::firstName,
    Field::surname,
    Field::placeOfBirth,
    Field::dateOfBirth,
    Field::ageText,
    Field::educationCentre,
    Field::streetName,
    Field::coordinatorName,
    Field::nearbyBusiness,
    Field::productivityCompany,
    Field::maintenanceCompany,
    Field::zonalLibrary,
    Field::libraryFee,
    Field::shoppingCentre,
    Field::nearestSchool,
    Field::yearsAhead,
    Field::ageAfterYears,
};

}  // namespace

std::string isoLocalTime(const EnteredAt& at) {
    // By hand rather than by snprintf: this runs once for every record exported.
    std::string text = "0000-00-00T00:00";
    const auto digits = [&text](std::size_t end, int value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i, value /= 10) {
            text[end - i] = static_cast<char>('0' + value % 10);
        }
    };
    const int year = at.date.year();
    digits(6, at.date.month(), 2);
    digits(9, at.date.day(), 2);
    digits(12, at.hour, 2);
    digits(15, at.minute, 2);
    if (year >= 0 && year <= 9999) {
        digits(3, year, 4);
    } else {
        text.replace(0, 4, std::to_string(year));  // as the record has it
    }
    return text;
}

void fillRow(std::string_view source, const StoredRecord& record, Row& row) {
    row.recordNumber = std::to_string(record.number);
    row.lineNumber = std::to_string(record.firstLine);
    row.enteredAt = isoLocalTime(record.enteredAt);
    row.values[0] = source;
    row.values[1] = row.recordNumber;
    row.values[2] = row.lineNumber;
    row.values[3] = row.enteredAt;
    for (std::size_t i = 0; i < kAnswerFields.size(); ++i) {
        row.values.at(4 + i) = record.field(kAnswerFields.at(i));
    }
}

}  // namespace profiledesk::office
