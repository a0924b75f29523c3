#pragma once

// The encodings offered: the code pages of desk consoles and the ISO 8859 sets. The build makes
// each one's decoding table from iconv (cmake/code_page_tables.cmake reads this list), and
// every build decodes with those tables, Windows' too.

#include <array>
#include <string_view>

namespace profiledesk::office {

// As iconv spells them.
inline constexpr std::array<std::string_view, 24> kEncodingNames{
    "UTF-8",      "CP437",      "CP850",      "CP852",       "CP866",       "CP1250",
    "CP1251",     "CP1252",     "CP1253",     "CP1254",      "CP1255",      "CP1256",
    "CP1257",     "CP1258",     "ISO-8859-1", "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",
    "ISO-8859-5", "ISO-8859-7", "ISO-8859-9", "ISO-8859-13", "ISO-8859-15", "KOI8-R",
};

}  // namespace profiledesk::office
