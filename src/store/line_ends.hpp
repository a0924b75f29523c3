#pragma once

// Line ends as Windows stores them, read back as '\n'; plain code, so every platform's
// tests can check it.

#include <cstddef>

namespace profiledesk {

struct LineEndsRead {
    std::size_t kept = 0;      // bytes of '\n'-ended text now at the start of the buffer
    std::size_t consumed = 0;  // input bytes done with; the rest is to be read again
};

// Turns each CRLF in `data[0, length)` into '\n', in place; a CR without an LF after it
// stays. A CR in the last byte is left unconsumed, unless `atEnd` or it is the only byte,
// so that the next read sees it together with the byte that follows it.
LineEndsRead crlfToLf(char* data, std::size_t length, bool atEnd);

}  // namespace profiledesk
