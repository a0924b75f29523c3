#pragma once

#include <string>
#include <string_view>

namespace profiledesk {

// Stored bytes made safe to show on a terminal: each C0 control and DEL as caret notation
// (ESC as ^[, DEL as ^?), and each C1 control written in UTF-8 (U+0080 to U+009F, which a
// terminal may take as CSI and the like) as <U+009B>. Every other byte passes as it is.
// `keepLineEnds` lets tab and line feed through, for a listing of whole lines.
std::string makeVisible(std::string_view bytes, bool keepLineEnds = false);

// Bytes from outside (a file's or a desk's name, a message that quotes them) made safe to
// show on a terminal and to write into any output, which must be UTF-8: controls as
// makeVisible shows them, tab and line feed included, and each byte that is no part of a
// UTF-8 character as <0xE9>, so that two names that differ only there are still told apart.
std::string visibleText(std::string_view bytes);

// How many bytes at the end of `bytes` could be the start of a control that the next bytes
// complete (a lone 0xC2): a caller showing a file piece by piece holds them back.
std::size_t unfinishedControl(std::string_view bytes);

}  // namespace profiledesk
