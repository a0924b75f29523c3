#include "record/candidate_record.hpp"

#include <string_view>

namespace profiledesk {

namespace {

bool askWord(std::istream& in, std::ostream& out, std::string_view prompt, std::string& answer) {
    out << prompt << std::endl;
    answer.clear();  // a failed read leaves the word empty
    return static_cast<bool>(in >> answer);
}

bool askNumber(std::istream& in, std::ostream& out, std::string_view prompt, double& answer) {
    out << prompt << std::endl;
    // Read into a temporary: a failed or out-of-range read must not change the answer.
    double parsed = 0.0;
    if (in >> parsed) {
        answer = parsed;
        return true;
    }
    return false;
}

}  // namespace

int enterRecord(std::istream& in, std::ostream& out, CandidateRecord& record) {
    int answered = 0;
    answered += askWord(in, out, " --> Enter Your Firstname :: ", record.firstName);
    answered += askWord(in, out, " --> Enter Your Surname :: ", record.surname);
    answered += askWord(in, out, " --> Enter Your Place Of Birth :: ", record.placeOfBirth);
    answered += askWord(in, out, " --> Enter Your Date Of Birth :: ", record.dateOfBirth);
    answered += askWord(in, out, " --> Enter Your Age Now :: ", record.ageText);
    answered += askNumber(in, out, " --> Enter The Same Age Again :: ", record.ageValue);
    answered += askNumber(in, out, " --> Enter A Calculated Age For Another Year :: ", record.yearsAhead);
    answered += askWord(
        in, out, " --> Enter Your Educational(Learning) Center And 'Use Dash(-) For Space Between Words :: ",
        record.educationCentre);
    answered += askWord(
        in, out, " --> Enter The Street Name For This Center And 'Use Dash(-) For Space Between Words :: ",
        record.streetName);
    answered +=
        askWord(in, out,
                " --> Enter The Co-ordinator(Propsector) Is Name For This Location(Center) And 'Use Dash(-) "
                "For Space Between Words :: ",
                record.coordinatorName);
    answered +=
        askWord(in, out, " --> Enter One Near By(Related) Business(Production) In This Region(Place)  :: ",
                record.nearbyBusiness);
    answered += askWord(in, out,
                        " --> Enter Another Near By(Related) Productivity Company(Business) In The Same "
                        "Region(Place)  :: ",
                        record.productivityCompany);
    answered += askWord(
        in, out, " --> Enter A Maintenance(Development) Company(Business) In This Zone(Region) Also  :: ",
        record.maintenanceCompany);
    answered += askWord(in, out,
                        " --> Also, Kindly Enter One Zonal(Regional) Library(Rec. Center) For Your "
                        "Environment(Location) At The(This) Prompt.   :: ",
                        record.zonalLibrary);
    // This prompt only introduces the next one; it takes no answer of its own.
    out << " --> If Needed At The(This) Available Option(Focus) As Requested(Ordered), Provide It At "
           "The Prompt :: "
        << std::endl;
    answered +=
        askWord(in, out,
                " --> Provide Your Regional Library(Rec. Center) Fee For This Environment(Location) At "
                "The(This) Prompt Also.   :: ",
                record.libraryFee);
    answered += askWord(in, out,
                        " --> Provide The Nearest Shopping Center(Plaza) In Your Environment(Location) At "
                        "The(This) Prompt.   :: ",
                        record.shoppingCentre);
    answered += askWord(in, out,
                        " --> Provide The Name Of The Nearest School(Educational Compound  Premise) In Your "
                        "Location(Environment) At The(This) Prompt.   :: ",
                        record.nearestSchool);
    return answered;
}

}  // namespace profiledesk
