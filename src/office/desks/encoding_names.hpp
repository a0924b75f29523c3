#pragma once

// The encodings offered, with the Windows code page of each: the code pages of desk
// consoles and the ISO 8859 sets that Windows also converts.

#include <array>
#include <string_view>

namespace profiledesk::office {

struct EncodingName {
    std::string_view name;  // as iconv spells it
    unsigned int codePage;  // as Windows numbers it
};

inline constexpr std::array<EncodingName, 24> kEncodingNames{{
    {"UTF-8", 65001},      {"CP437", 437},         {"CP850", 850},         {"CP852", 852},
    {"CP866", 866},        {"CP1250", 1250},       {"CP1251", 1251},       {"CP1252", 1252},
    {"CP1253", 1253},      {"CP1254", 1254},       {"CP1255", 1255},       {"CP1256", 1256},
    {"CP1257", 1257},      {"CP1258", 1258},       {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},
    {"ISO-8859-3", 28593}, {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},  {"ISO-8859-7", 28597},
    {"ISO-8859-9", 28599}, {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605}, {"KOI8-R", 20866},
}};

}  // namespace profiledesk::office
