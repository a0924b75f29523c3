#include "record/record_layout.hpp"

#include <algorithm>

#include "record/byte_compare.hpp"
#include "record/rules.hpp"

namespace profiledesk {

namespace {

constexpr LinePart t(std::string_view text) { return LinePart{text, Field::none}; }
constexpr LinePart v(Field field) { return LinePart{{}, field}; }

}  // namespace

// clang-format off
// Set before any code runs: the fast matchers read it to size up each line at start.
constinit const std::array<LineLayout, kRecordLines> kRecordLayout{{
    // The maker's header.
    {t(" -->                     "), v(Field::makerName), t("["), v(Field::makerInitials), t("] !!!")},
    {t(" -->                     "), v(Field::noticeText), t(" !!!")},
    {t(" Location Default ->(1) ::  "), v(Field::defaultLocation1), t(" ")},
    {t(" Location Default ->(2) ::  "), v(Field::defaultLocation2), t(" ")},
    {t(" -->                 E.Mail Address Is :: "), v(Field::contactEmail), t(" !!! ")},
    {t(" -->                 Current Phone Number Is :: "), v(Field::contactPhone), t(" !!! ")},
    // The answers.
    {t(" Candidate Name :: "), v(Field::firstName), t(" "), v(Field::surname)},
    {t(" Candidate Place Of Birth Is :: "), v(Field::placeOfBirth)},
    {t(" Candidate's Date Of Birth Is :: "), v(Field::dateOfBirth), t(" , Candidate's Age Is :: "),
     v(Field::ageText)},
    {t(" Candidate(Bearer) Is Educational(Learning Center) :: "), v(Field::educationCentre)},
    {t(" Enter The Street Name For This Center :: "), v(Field::streetName)},
    {t(" Enter The Co-ordinator(Propsector) Is Name For This Location(Center) :: "), v(Field::coordinatorName)},
    {t("  --> One Near By(Related) Business(Production) In This Region(Place) Is :: "), v(Field::nearbyBusiness)},
    {t("  --> The Near By(Related) Productivity Company(Business) In The Same Region(Place)  :: "),
     v(Field::productivityCompany)},
    {t("  --> One Maintenance(Development) Company(Business) In This Zone(Region) Is  :: "),
     v(Field::maintenanceCompany)},
    {t(" Your Age In "), v(Field::yearsAhead), t(" Years Time Will Be :: "), v(Field::ageAfterYears),
     t(" . Thank You For Providing These Options And Selections. ")},
    {t(" --> The Nearest Shopping Center(Plaza) In This Location(Environment) Is :: "), v(Field::shoppingCentre)},
    {t(" --> The Name Of The Nearest School(Educational Compound) In This Location(Environment) Is.   :: "),
     v(Field::nearestSchool)},
    {t("  --> The Zonal(Regional) Library(Recreational Center) For The Environment(Location) Is. :: "),
     v(Field::zonalLibrary)},
    {t("  --> The Provided Regional Library(Recreational Center) Fee For This Environment(Location) Is .   :: N "),
     v(Field::libraryFee)},
    // The figures.
    {t(kStarRule)},
    {t(" The Multiple Of The(This) Number Is :: "), v(Field::yearsAhead), t(" x "), v(Field::yearsAhead), t(" = "),
     v(Field::multiple)},
    {t(" The Addition Of The(This) Number Is :: "), v(Field::yearsAhead), t(" + "), v(Field::yearsAhead), t(" = "),
     v(Field::addition)},
    {t(kShortDashRule)},
    // When it was entered, then an empty line.
    {v(Field::timeText), t("  -->  Today's Date Is "), v(Field::dayOfMonth), t(" "), v(Field::monthName), t(" "),
     v(Field::year), t(".")},
    {},
    // The collector's trailer.
    {t(kLongDashRule)},
    {t(kReportRule)},
    {t(" --> ["), v(Field::collectionWebAddress), t("] -> End Of Collection("), v(Field::collatorTag),
     t("<->Collated Datas) <-> "), v(Field::collectionPhone), t(" <--")},
    {t(kRule<' ', '-', 44>), t("> "), v(Field::departmentLabel), t(" <"), t(kRule<'\0', '-', 48>)},
}};
// clang-format on

FieldKind kindOf(Field field) {
    switch (field) {
        case Field::yearsAhead:
        case Field::ageAfterYears:
        case Field::multiple:
        case Field::addition:
        case Field::dayOfMonth:
        case Field::year: return FieldKind::number;
        case Field::makerName:
        case Field::makerInitials:
        case Field::noticeText:
        case Field::defaultLocation1:
        case Field::defaultLocation2:
        case Field::contactEmail:
        case Field::contactPhone:
        case Field::timeText:
        case Field::collectionWebAddress:
        case Field::collatorTag:
        case Field::collectionPhone:
        case Field::departmentLabel: return FieldKind::text;
        default: return FieldKind::word;
    }
}

void renderRecord(const FieldValues& values, std::string& out) {
    for (const LineLayout& line : kRecordLayout) {
        for (const LinePart& part : line) {
            out += part.field == Field::none ? part.text : values[static_cast<std::size_t>(part.field)];
        }
        out += '\n';
    }
}

std::size_t partsUsed(std::size_t index) {
    const LineLayout& line = kRecordLayout.at(index);
    std::size_t used = line.size();
    while (used > 0 && line.at(used - 1).field == Field::none && line.at(used - 1).text.empty()) {
        --used;
    }
    return used;
}

namespace {

using bytes::isBlank;

// Tries each length a value could have, longest first, with the parts after it matched for
// each; a failed try gives back every value it took.
class LineMatcher {
public:
    LineMatcher(std::string_view text, FieldSpans& spans) : text_(text), spans_(spans) {}

    // Matches parts [from, end) against the line from `pos` to its end.
    bool match(const LinePart* from, const LinePart* end, std::size_t pos) {
        while (from != end && from->field == Field::none) {
            if (text_.substr(pos, from->text.size()) != from->text) {
                return false;
            }
            pos += from->text.size();
            ++from;
        }
        if (from == end) {
            return pos == text_.size();
        }
        FieldSpan& span = spans_[static_cast<std::size_t>(from->field)];
        if (span.found) {
            // Seen on an earlier line: only the same bytes can stand here.
            if (text_.substr(pos, span.length) != text_.substr(span.offset, span.length)) {
                return false;
            }
            return match(from + 1, end, pos + span.length);
        }
        const std::size_t rest = text_.size() - pos;
        std::size_t longest = rest;
        if (kindOf(from->field) != FieldKind::text) {
            longest = 0;
            while (longest < rest && !isBlank(text_[pos + longest])) {
                ++longest;
            }
        }
        // When only fixed text follows, the value's length is settled by it.
        std::size_t fixedTail = 0;
        const LinePart* next = from + 1;
        while (next != end && next->field == Field::none) {
            fixedTail += next->text.size();
            ++next;
        }
        if (next == end) {
            return fixedTail <= rest && rest - fixedTail <= longest &&
                   take(span, pos, rest - fixedTail, from, end);
        }
        const std::string_view marker =
            (from + 1)->field == Field::none ? (from + 1)->text : std::string_view();
        if (marker.empty()) {
            for (std::size_t length = longest + 1; length-- > 0;) {
                if (take(span, pos, length, from, end)) {
                    return true;
                }
            }
            return false;
        }
        // Only where the fixed text that follows stands can the value end: try those places,
        // longest first, rather than every length.
        if (rest < marker.size()) {
            return false;
        }
        const std::size_t last = std::min(longest, rest - marker.size());
        for (std::size_t at = last + 1; at-- > 0;) {
            // The first byte alone rules out most places; compare the rest only where it fits.
            if (text_[pos + at] == marker.front() && text_.substr(pos + at, marker.size()) == marker &&
                take(span, pos, at, from, end)) {
                return true;
            }
        }
        return false;
    }

private:
    bool take(FieldSpan& span, std::size_t pos, std::size_t length, const LinePart* from,
              const LinePart* end) {
        span = FieldSpan{pos, length, true};
        if (match(from + 1, end, pos + length)) {
            return true;
        }
        span = FieldSpan{};
        return false;
    }

    std::string_view text_;
    FieldSpans& spans_;
};

}  // namespace

bool matchRecordLineByTrying(std::size_t index, std::string_view text, std::size_t lineStart,
                             FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    // Every value a failed try takes is given back, so a failed match leaves `spans` as it was.
    LineMatcher matcher(text, spans);
    return matcher.match(line.data(), line.data() + partsUsed(index), lineStart);
}

}  // namespace profiledesk
