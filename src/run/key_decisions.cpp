#include "run/key_decisions.hpp"

#include <cstddef>

namespace profiledesk {

namespace {

constexpr char kEscape = '\x1b';

bool isFinalByte(char c) { return c >= 0x40 && c <= 0x7e; }

std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xf0 && lead <= 0xf7) {
        return 4;
    }
    if (lead >= 0xe0) {
        return lead <= 0xef ? 3 : 1;
    }
    if (lead >= 0xc0) {
        return 2;
    }
    return 1;
}

}  // namespace

bool isWholeKey(std::string_view bytes) {
    if (bytes.empty()) {
        return false;
    }
    if (bytes[0] != kEscape) {
        return bytes.size() >= utf8Length(static_cast<unsigned char>(bytes[0]));
    }
    // A lone Escape key looks like the start of a sequence; the caller's timeout settles it.
    if (bytes.size() < 2) {
        return false;
    }
    if (bytes[1] == 'O') {  // SS3: F1 to F4 and keypad keys, one byte more
        return bytes.size() >= 3;
    }
    if (bytes[1] != '[') {  // Alt with a key
        return true;
    }
    // CSI: parameters, then a final byte. The Linux console's F1 to F5 are "ESC [ [ A" to
    // "ESC [ [ E", where the second '[' is not the end.
    if (bytes.size() >= 3 && bytes[2] == '[') {
        return bytes.size() >= 4;
    }
    return bytes.size() >= 3 && isFinalByte(bytes.back());
}

bool endsClosingPause(const ConsoleKeyEvent& event) {
    if (!event.isKeyEvent || !event.keyDown) {
        return false;
    }
    if (event.character != 0) {
        return true;
    }
    const std::uint16_t key = event.virtualKeyCode;
    const bool navigation = key >= 0x21 && key <= 0x28;  // Page Up, Page Down, End, Home, arrows
    const bool insertOrDelete = key == 0x2d || key == 0x2e;
    const bool functionKey = key >= 0x70 && key <= 0x87;  // F1 to F24
    const bool clearOrPause = key == 0x0c || key == 0x13;
    return navigation || insertOrDelete || functionKey || clearOrPause;
}

}  // namespace profiledesk
