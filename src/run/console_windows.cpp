// The console on Windows: the closing pause reads key events from the console input
// device itself, with its mode cleared so that Ctrl+C arrives as an ordinary key.

#include <windows.h>

#include "run/console.hpp"
#include "run/key_decisions.hpp"

namespace profiledesk::console {

namespace {

// The console input device, whatever standard input has been redirected to.
class ConsoleInput {
public:
    ConsoleInput()
        : handle_(::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~ConsoleInput() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;

    [[nodiscard]] HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Mode 0 for as long as this lives: no line input, no echo, no processed input.
class ClearedMode {
public:
    explicit ClearedMode(HANDLE input) : input_(input) {
        saved_ = ::GetConsoleMode(input, &mode_) != 0;
        active_ = saved_ && ::SetConsoleMode(input, 0) != 0;
    }
    ~ClearedMode() {
        if (saved_) {
            ::SetConsoleMode(input_, mode_);
        }
    }
    ClearedMode(const ClearedMode&) = delete;
    ClearedMode& operator=(const ClearedMode&) = delete;

    [[nodiscard]] bool active() const { return active_; }

private:
    HANDLE input_;
    DWORD mode_ = 0;
    bool saved_ = false;
    bool active_ = false;
};

ConsoleKeyEvent describe(const INPUT_RECORD& record) {
    ConsoleKeyEvent event;
    if (record.EventType != KEY_EVENT) {
        return event;
    }
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    event.isKeyEvent = true;
    event.keyDown = key.bKeyDown != FALSE;
    event.virtualKeyCode = key.wVirtualKeyCode;
    event.character = key.uChar.AsciiChar;
    return event;
}

// A console, not a pipe, a file or the NUL device (which _isatty also counts).
bool outputIsConsole() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace

bool localTimeNow(std::tm& local) {
    const std::time_t now = std::time(nullptr);
    return now != static_cast<std::time_t>(-1) && ::localtime_s(&local, &now) == 0;
}

// Windows offers no kernel copy to standard output; the listing streams through a buffer.
int outputDescriptor() { return -1; }

void waitForKey() {
    // The prompt asks for a key only where someone sees it: with output into a pipe or a
    // file the run ends at once, and the console's mode is never touched.
    if (!outputIsConsole()) {
        return;
    }
    const ConsoleInput input;
    if (input.get() == INVALID_HANDLE_VALUE) {
        return;
    }
    const ClearedMode mode(input.get());
    if (!mode.active()) {
        return;
    }
    for (;;) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (::ReadConsoleInputA(input.get(), &record, 1, &read) == 0 || read == 0) {
            return;
        }
        if (endsClosingPause(describe(record))) {
            return;
        }
    }
}

}  // namespace profiledesk::console
