#pragma once

// Removing a half-written output when the user stops the tool. One source file per platform
// implements this header.

#include <string>

namespace profiledesk::office {

// For as long as this lives, Ctrl+C, SIGTERM and SIGHUP remove the file at `path` and then
// end the process by that same signal, so that the parent still sees why. A signal the
// parent had ignored (SIGHUP under nohup) stays ignored. One at a time.
class RemoveOnSignal {
public:
    explicit RemoveOnSignal(const std::string& path);
    ~RemoveOnSignal();
    RemoveOnSignal(const RemoveOnSignal&) = delete;
    RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;
    RemoveOnSignal(RemoveOnSignal&&) = delete;
    RemoveOnSignal& operator=(RemoveOnSignal&&) = delete;
};

}  // namespace profiledesk::office
