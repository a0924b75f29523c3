#include "notices/maker_details.hpp"

namespace profiledesk {

void writeStartNotice(std::ostream& out, const MakerDetails& maker) {
    out << " -->                     " << maker.makerName << " !!!\n"
        << " -->                     " << maker.noticeText << " !!!\n"
        << " --> " << maker.postalAddress << "  !!!\n"
        << " -->                 E.Mail Address Is :: " << maker.contactEmail << " !!!\n"
        << " -->                 Current Phone Number Is :: " << maker.contactPhone << " !!!\n"
        << " -->               Good Day To Everybody Around - [" << maker.greetingTag << "] !!!\n"
        << " --> [Default 1]  " << maker.defaultLocation1 << " !!!\n"
        << " --> [Default 2]  " << maker.defaultLocation2 << " !!!\n";
}

void writeClosingNotice(std::ostream& out, const MakerDetails& maker) {
    out << " -->                               " << maker.makerName << " !!!\n"
        << " -->                               " << maker.noticeText << " !!!\n"
        << " --> " << maker.postalAddress << "  !!!\n"
        << " -->                       E.Mail Address Is :: " << maker.contactEmail << " !!!\n"
        << " -->                       Current Phone Number Is :: " << maker.contactPhone << " !!!\n"
        << " --> [Default 2]  " << maker.defaultLocation2 << ", U.S.A !!!\n";
}

}  // namespace profiledesk
