#include "office/columns.hpp"

#include <cstdio>

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
    std::array<char, 48> text{};
    const int length = std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d", at.year, at.month,
                                     at.day, at.hour, at.minute);
    return {text.data(), static_cast<std::size_t>(length > 0 ? length : 0)};
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
