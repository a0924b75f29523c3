#pragma once

// Stopping the view when the user asks, one source file per platform: Ctrl+C, SIGTERM and
// SIGHUP (the terminal closed) on POSIX; Ctrl+C, Ctrl+Break and the console closed on Windows.

#include <functional>

namespace profiledesk::office::serve {

// For as long as this lives, the first of those calls `stop` once, on a thread of its own (a
// signal handler may do next to nothing). A signal the parent had ignored (SIGHUP under nohup)
// stays ignored, and what was there before is put back at the end.
class StopOnSignal {
public:
    explicit StopOnSignal(std::function<void()> stop);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;
    StopOnSignal(StopOnSignal&&) = delete;
    StopOnSignal& operator=(StopOnSignal&&) = delete;

    // The signal that asked to stop, 0 for none yet: once this is gone, the caller may end by
    // it, so that its parent sees why.
    [[nodiscard]] static int signalled();
};

// Ends the process by `signal`, as if the view had not caught it; nothing where the platform
// has no such thing.
void endBy(int signal);

}  // namespace profiledesk::office::serve
