#pragma once

// Which key presses end the closing pause. Kept apart from the console code so that the
// decisions can be checked on any platform.

#include <cstdint>
#include <string_view>

namespace profiledesk {

// A terminal sends some keys as several bytes: arrows and function keys as escape
// sequences, letters beyond ASCII as UTF-8. True once `bytes`, read so far, hold a whole key.
bool isWholeKey(std::string_view bytes);

// One input event of a Windows console, as far as the pause cares.
struct ConsoleKeyEvent {
    bool isKeyEvent = false;  // not a mouse, focus or resize event
    bool keyDown = false;
    std::uint16_t virtualKeyCode = 0;
    char character = 0;  // the character the key produces, 0 for none
};

// True for a key press that produces a character or is an extended key (arrows, function
// keys, Home, Insert and the like); false for releases, lone Shift, Ctrl or Alt, and all
// other events.
bool endsClosingPause(const ConsoleKeyEvent& event);

}  // namespace profiledesk
