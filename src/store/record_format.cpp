#include <sstream>

#include "record/rules.hpp"
#include "store/record_file.hpp"
#include "store/record_store.hpp"

namespace profiledesk {

std::string formatRecord(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker) {
    const double years = record.yearsAhead;
    std::ostringstream out;
    out << " -->                     " << maker.makerName << "[" << maker.makerInitials << "] !!!\n";
    out << " -->                     " << maker.noticeText << " !!!\n";
    out << " Location Default ->(1) ::  " << maker.defaultLocation1 << " \n";
    out << " Location Default ->(2) ::  " << maker.defaultLocation2 << " \n";
    out << " -->                 E.Mail Address Is :: " << maker.contactEmail << " !!! \n";
    out << " -->                 Current Phone Number Is :: " << maker.contactPhone << " !!! \n";
    out << " Candidate Name :: " << record.firstName << " " << record.surname << "\n";
    out << " Candidate Place Of Birth Is :: " << record.placeOfBirth << "\n";
    out << " Candidate's Date Of Birth Is :: " << record.dateOfBirth
        << " , Candidate's Age Is :: " << record.ageText << "\n";
    out << " Candidate(Bearer) Is Educational(Learning Center) :: " << record.educationCentre << "\n";
    out << " Enter The Street Name For This Center :: " << record.streetName << "\n";
    out << " Enter The Co-ordinator(Propsector) Is Name For This Location(Center) :: "
        << record.coordinatorName << "\n";
    out << "  --> One Near By(Related) Business(Production) In This Region(Place) Is :: "
        << record.nearbyBusiness << "\n";
    out << "  --> The Near By(Related) Productivity Company(Business) In The Same Region(Place)  :: "
        << record.productivityCompany << "\n";
    out << "  --> One Maintenance(Development) Company(Business) In This Zone(Region) Is  :: "
        << record.maintenanceCompany << "\n";
    out << " Your Age In " << years << " Years Time Will Be :: " << record.ageValue + years
        << " . Thank You For Providing These Options And Selections. \n";
    out << " --> The Nearest Shopping Center(Plaza) In This Location(Environment) Is :: "
        << record.shoppingCentre << "\n";
    out << " --> The Name Of The Nearest School(Educational Compound) In This Location(Environment) "
           "Is.   :: "
        << record.nearestSchool << "\n";
    out << "  --> The Zonal(Regional) Library(Recreational Center) For The Environment(Location) Is. :: "
        << record.zonalLibrary << "\n";
    out << "  --> The Provided Regional Library(Recreational Center) Fee For This Environment(Location) "
           "Is .   :: N "
        << record.libraryFee << "\n";
    out << kStarRule << "\n";
    out << " The Multiple Of The(This) Number Is :: " << years << " x " << years << " = " << years * years
        << "\n";
    out << " The Addition Of The(This) Number Is :: " << years << " + " << years << " = " << years + years
        << "\n";
    out << kShortDashRule << "\n";
    // The date line is followed by an empty line, part of every record.
    out << clock.timeText << "  -->  Today's Date Is " << clock.dayOfMonth << " " << monthName(clock.month)
        << " " << clock.year << ".\n\n";
    out << kLongDashRule << "\n";
    out << kReportRule << "\n";
    out << " --> [" << maker.collectionWebAddress << "] -> End Of Collection(" << maker.collatorTag
        << "<->Collated Datas) <-> " << maker.collectionPhone << " <--\n";
    out << " " << Rule{"", '-', 44} << "> " << maker.departmentLabel << " <" << Rule{"", '-', 48} << "\n";
    return std::move(out).str();
}

Status saveRecord(const std::string& path, const CandidateRecord& record, const ClockSnapshot& clock,
                  const MakerDetails& maker) {
    return appendWhole(path, formatRecord(record, clock, maker));
}

}  // namespace profiledesk
