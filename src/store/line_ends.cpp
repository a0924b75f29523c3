#include "store/line_ends.hpp"

namespace profiledesk {

LineEndsRead crlfToLf(char* data, std::size_t length, bool atEnd) {
    LineEndsRead result;
    result.consumed = length;
    if (!atEnd && length > 1 && data[length - 1] == '\r') {
        --result.consumed;
    }
    for (std::size_t i = 0; i < result.consumed; ++i) {
        const bool crBeforeLf = data[i] == '\r' && i + 1 < length && data[i + 1] == '\n';
        if (!crBeforeLf) {
            data[result.kept++] = data[i];
        }
    }
    return result;
}

}  // namespace profiledesk
