#include "record/record_format.hpp"

#include <sstream>

namespace profiledesk {

namespace {

// A figure as the console report shows it: the stream's default six significant digits.
std::string figure(double value) {
    std::ostringstream out;
    out << value;
    return std::move(out).str();
}

}  // namespace

FieldValues recordValues(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker) {
    const double years = record.yearsAhead;
    FieldValues values;
    const auto set = [&values](Field field, std::string_view value) {
        values[static_cast<std::size_t>(field)] = value;
    };
    set(Field::makerName, maker.makerName);
    set(Field::makerInitials, maker.makerInitials);
    set(Field::noticeText, maker.noticeText);
    set(Field::defaultLocation1, maker.defaultLocation1);
    set(Field::defaultLocation2, maker.defaultLocation2);
    set(Field::contactEmail, maker.contactEmail);
    set(Field::contactPhone, maker.contactPhone);
    set(Field::firstName, record.firstName);
    set(Field::surname, record.surname);
    set(Field::placeOfBirth, record.placeOfBirth);
    set(Field::dateOfBirth, record.dateOfBirth);
    set(Field::ageText, record.ageText);
    set(Field::educationCentre, record.educationCentre);
    set(Field::streetName, record.streetName);
    set(Field::coordinatorName, record.coordinatorName);
    set(Field::nearbyBusiness, record.nearbyBusiness);
    set(Field::productivityCompany, record.productivityCompany);
    set(Field::maintenanceCompany, record.maintenanceCompany);
    set(Field::yearsAhead, figure(years));
    set(Field::ageAfterYears, figure(record.ageValue + years));
    set(Field::shoppingCentre, record.shoppingCentre);
    set(Field::nearestSchool, record.nearestSchool);
    set(Field::zonalLibrary, record.zonalLibrary);
    set(Field::libraryFee, record.libraryFee);
    set(Field::multiple, figure(years * years));
    set(Field::addition, figure(years + years));
    set(Field::timeText, clock.timeText);
    set(Field::dayOfMonth, std::to_string(clock.dayOfMonth));
    set(Field::monthName, monthName(clock.month));
    set(Field::year, std::to_string(clock.year));
    set(Field::collectionWebAddress, maker.collectionWebAddress);
    set(Field::collatorTag, maker.collatorTag);
    set(Field::collectionPhone, maker.collectionPhone);
    set(Field::departmentLabel, maker.departmentLabel);
    return values;
}

std::string formatRecord(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker) {
    std::string text;
    renderRecord(recordValues(record, clock, maker), text);
    return text;
}

}  // namespace profiledesk
