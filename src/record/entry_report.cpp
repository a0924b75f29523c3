#include "record/candidate_record.hpp"
#include "record/rules.hpp"

namespace profiledesk {

namespace {

void writeQuotients(std::ostream& out, int divisor, double ageValue, double yearsAhead) {
    for (const double value : {ageValue, yearsAhead}) {
        out << " The(This) Number Divided By " << divisor << " :: " << value << "  / " << divisor << " = "
            << value / static_cast<double>(divisor) << " , Nearest Number(s). Thank You Very Much "
            << std::endl;
    }
    out << kDottedRule << std::endl;
}

}  // namespace

void writeEntryReport(std::ostream& out, const CandidateRecord& record) {
    const double years = record.yearsAhead;
    out << " " << std::endl;
    out << " ---->  Inputed(Received) Data(s)" << std::endl;
    out << kReportRule << std::endl;
    out << "  --> Candidate(Bearer) Is Full Name :: " << record.firstName << " " << record.surname
        << std::endl;
    out << "  --> Candidate(Bearer) Is Place Of Birth :: " << record.placeOfBirth
        << " , Age Is :: " << record.ageText << std::endl;
    out << "  --> Candidate(Bearer) Is Educational(Learning Center) :: " << record.educationCentre
        << std::endl;
    out << "  --> The Street Name For This Center Is :: " << record.streetName << std::endl;
    out << "  --> The Co-ordinator(Propsector) Is Name For This Location(Center) Is :: "
        << record.coordinatorName << std::endl;
    out << "  --> One Near By(Related) Business(Production) In This Region(Place) Is :: "
        << record.nearbyBusiness << std::endl;
    out << "  --> The Near By(Related) Productivity Company(Business) In The Same Region(Place)  :: "
        << record.productivityCompany << std::endl;
    out << "  --> One Maintenance(Development) Company(Business) In This Zone(Region) Is  :: "
        << record.maintenanceCompany << std::endl;
    out << "  --> Your Age In " << years << " Year(s) Time Will Be " << record.ageValue + years
        << ".  Thank You Very Much " << std::endl;
    out << " --> The Zonal(Regional) Library(Recreational Center) For The Environment(Location) Is. :: "
        << record.zonalLibrary << std::endl;
    out << " --> The Provided Regional Library(Recreational Center) Fee For This Environment(Location) "
           "Is .   :: N "
        << record.libraryFee << std::endl;
    out << " --> The Nearest Shopping Center(Plaza) In This Location(Environment) Is :: "
        << record.shoppingCentre << std::endl;
    out << " --> The Name Of The Nearest School(Educational Compound) In This Location(Environment) "
           "Is.   :: "
        << record.nearestSchool << std::endl;
    out << kReportRule << std::endl;
    out << " The Multiple Of The(This) Number Is :: " << years << " x " << years << " = " << years * years
        << std::endl;
    out << " The Addition Of The(This) Number Is :: " << years << " + " << years << " = " << years + years
        << std::endl;
    out << kDottedRule << std::endl;
    for (const int divisor : {2, 3, 4, 5}) {
        writeQuotients(out, divisor, record.ageValue, years);
    }
    out << kReportRule << std::endl;
}

}  // namespace profiledesk
