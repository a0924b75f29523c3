#pragma once

#include <string>
#include <string_view>

namespace profiledesk {

// Stored bytes made safe to show on a terminal: each C0 control and DEL as caret notation
// (ESC as ^[, DEL as ^?), and each C1 control written in UTF-8 (U+0080 to U+009F, which a
// terminal may take as CSI and the like) as <U+009B>. Every other byte passes as it is.
// `keepLineEnds` lets tab and line feed through, for a listing of whole lines.
std::string makeVisible(std::string_view bytes, bool keepLineEnds = false);

// How many bytes at the end of `bytes` could be the start of a control that the next bytes
// complete (a lone 0xC2): a caller showing a file piece by piece holds them back.
std::size_t unfinishedControl(std::string_view bytes);

}  // namespace profiledesk
