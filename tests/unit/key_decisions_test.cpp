// Which keys end the closing pause, and when a key's bytes are all in.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "run/key_decisions.hpp"

namespace profiledesk {
namespace {

TEST(WholeKey, SingleBytesAndControlKeys) {
    EXPECT_FALSE(isWholeKey(""));
    EXPECT_TRUE(isWholeKey("a"));
    EXPECT_TRUE(isWholeKey("\x03"));  // Ctrl+C
    EXPECT_TRUE(isWholeKey("\r"));
}

TEST(WholeKey, EscapeSequencesAreReadToTheirEnd) {
    EXPECT_FALSE(isWholeKey("\x1b"));
    EXPECT_FALSE(isWholeKey("\x1b["));
    EXPECT_TRUE(isWholeKey("\x1b[A"));      // up arrow
    EXPECT_FALSE(isWholeKey("\x1b[5"));     // Page Up, still coming
    EXPECT_FALSE(isWholeKey("\x1b[15;2"));  // Shift+F5, still coming
    EXPECT_TRUE(isWholeKey("\x1b[15;2~"));
    EXPECT_FALSE(isWholeKey("\x1bO"));
    EXPECT_TRUE(isWholeKey("\x1bOP"));   // F1
    EXPECT_FALSE(isWholeKey("\x1b[["));  // Linux console F1
    EXPECT_TRUE(isWholeKey("\x1b[[A"));
    EXPECT_TRUE(isWholeKey("\x1bx"));  // Alt+x
}

TEST(WholeKey, Utf8CharactersAreReadWhole) {
    EXPECT_FALSE(isWholeKey("\xc3"));
    EXPECT_TRUE(isWholeKey("\xc3\xa9"));  // é
    EXPECT_FALSE(isWholeKey("\xe2\x82"));
    EXPECT_TRUE(isWholeKey("\xe2\x82\xac"));  // €
    EXPECT_FALSE(isWholeKey("\xf0\x9f\x99"));
    EXPECT_TRUE(isWholeKey("\xf0\x9f\x99\x82"));
    EXPECT_TRUE(isWholeKey("\x80"));  // a stray continuation byte is a key on its own
}

ConsoleKeyEvent keyDown(std::uint16_t virtualKey, char character) {
    return ConsoleKeyEvent{
        .isKeyEvent = true, .keyDown = true, .virtualKeyCode = virtualKey, .character = character};
}

TEST(ClosingPause, KeysThatProduceACharacterOrAreExtendedEndIt) {
    EXPECT_TRUE(endsClosingPause(keyDown(0x41, 'a')));
    EXPECT_TRUE(endsClosingPause(keyDown(0x43, '\x03')));  // Ctrl+C with processed input off
    EXPECT_TRUE(endsClosingPause(keyDown(0x0d, '\r')));
    EXPECT_TRUE(endsClosingPause(keyDown(0x26, 0)));  // up arrow
    EXPECT_TRUE(endsClosingPause(keyDown(0x24, 0)));  // Home
    EXPECT_TRUE(endsClosingPause(keyDown(0x2e, 0)));  // Delete
    EXPECT_TRUE(endsClosingPause(keyDown(0x70, 0)));  // F1
    EXPECT_TRUE(endsClosingPause(keyDown(0x87, 0)));  // F24
}

TEST(ClosingPause, ReleasesModifiersAndOtherEventsDoNot) {
    ConsoleKeyEvent release = keyDown(0x41, 'a');
    release.keyDown = false;
    EXPECT_FALSE(endsClosingPause(release));
    EXPECT_FALSE(endsClosingPause(keyDown(0x10, 0)));   // Shift
    EXPECT_FALSE(endsClosingPause(keyDown(0x11, 0)));   // Ctrl
    EXPECT_FALSE(endsClosingPause(keyDown(0x12, 0)));   // Alt
    EXPECT_FALSE(endsClosingPause(keyDown(0x14, 0)));   // Caps Lock
    EXPECT_FALSE(endsClosingPause(keyDown(0x5b, 0)));   // Windows key
    EXPECT_FALSE(endsClosingPause(ConsoleKeyEvent{}));  // a mouse or focus event
}

TEST(ClosingPause, EveryNamedExtendedKeyEndsItAndItsNeighboursDoNot) {
    std::vector<std::uint16_t> named{0x0c, 0x13, 0x2d, 0x2e};  // Clear, Pause, Insert, Delete
    for (std::uint16_t key = 0x21; key <= 0x28; ++key) {       // Page Up to the down arrow
        named.push_back(key);
    }
    for (std::uint16_t key = 0x70; key <= 0x87; ++key) {  // F1 to F24
        named.push_back(key);
    }
    for (const std::uint16_t key : named) {
        EXPECT_TRUE(endsClosingPause(keyDown(key, 0))) << "virtual key " << key;
    }
    // Shift, Ctrl, Alt, Select, Print Screen, Help, keypad divide, and the key past F24.
    const std::vector<std::uint16_t> neighbours{0x10, 0x11, 0x12, 0x29, 0x2c, 0x2f, 0x6f, 0x88};
    for (const std::uint16_t key : neighbours) {
        EXPECT_FALSE(endsClosingPause(keyDown(key, 0))) << "virtual key " << key;
    }
}

}  // namespace
}  // namespace profiledesk
