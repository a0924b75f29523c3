#pragma once

#include <ostream>
#include <string_view>

namespace profiledesk {

// The maker's fixed contact texts, shown in the notices and written into every record.
struct MakerDetails {
    std::string_view makerName;
    std::string_view makerInitials;
    std::string_view noticeText;
    std::string_view postalAddress;
    std::string_view contactEmail;
    std::string_view contactPhone;
    std::string_view greetingTag;
    std::string_view defaultLocation1;
    std::string_view defaultLocation2;
    std::string_view collectionWebAddress;
    std::string_view collatorTag;
    std::string_view collectionPhone;
    std::string_view departmentLabel;
};

inline constexpr MakerDetails kMakerDetails{
    .makerName = "Profile Desk Community Survey",
    .makerInitials = "PDCS",
    .noticeText = "Copyright (C) 2026 The Profile Desk Authors",
    .postalAddress = "14 Harbour Road, Eastfield, Riverside County.",
    .contactEmail = "survey@profiledesk.example",
    .contactPhone = "+1-555-0142",
    .greetingTag = "Profile Desk",
    .defaultLocation1 = "14 Harbour Road, Eastfield, Ohio, Zip :: 43001",
    .defaultLocation2 = "9 Market Street, Northgate, Ohio, Zip :: 43002",
    .collectionWebAddress = "www.profiledesk.example",
    .collatorTag = "Records Office(PD)",
    .collectionPhone = "+1-555-0199",
    .departmentLabel = "Community Records Department",
};

// Eight lines shown at the top of every run.
void writeStartNotice(std::ostream& out, const MakerDetails& maker);

// Six lines shown after each guidance screen.
void writeClosingNotice(std::ostream& out, const MakerDetails& maker);

}  // namespace profiledesk
