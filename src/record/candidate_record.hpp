#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace profiledesk {

// The seventeen answers of one data entry. Every answer is one word as typed, kept whole
// however long it is; the two numbers stay 0 when their answer cannot be read.
struct CandidateRecord {
    std::string firstName;
    std::string surname;
    std::string placeOfBirth;
    std::string dateOfBirth;
    std::string ageText;
    double ageValue = 0.0;
    double yearsAhead = 0.0;
    std::string educationCentre;
    std::string streetName;
    std::string coordinatorName;
    std::string nearbyBusiness;
    std::string productivityCompany;
    std::string maintenanceCompany;
    std::string zonalLibrary;
    std::string libraryFee;
    std::string shoppingCentre;
    std::string nearestSchool;
};

inline constexpr int kAnswerCount = 17;

// Asks the questions one after the other and stores each answer. A failed read is not
// reported: the text answer is left empty, the number left as it was. Returns how many
// answers were read, kAnswerCount unless a read failed; every read after one fails too.
int enterRecord(std::istream& in, std::ostream& out, CandidateRecord& record);

// Prints the answers back with the figures computed from the two numbers.
void writeEntryReport(std::ostream& out, const CandidateRecord& record);

}  // namespace profiledesk
