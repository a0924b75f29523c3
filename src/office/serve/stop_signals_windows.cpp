#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "office/serve/stop_signals.hpp"

namespace profiledesk::office::serve {

namespace {

std::function<void()> gStop;
std::atomic<int> gSignalled{0};
// Windows ends the process as soon as the handler returns from the console's closing: it
// waits until the view has stopped, within the few seconds Windows gives.
std::mutex gMutex;
std::condition_variable gStopped;
bool gDone = false;

BOOL WINAPI stopOnEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (gSignalled.exchange(static_cast<int>(event) + 1) == 0) {
        gStop();
    }
    if (event == CTRL_CLOSE_EVENT) {
        std::unique_lock lock(gMutex);
        gStopped.wait_for(lock, std::chrono::seconds(4), [] { return gDone; });
    }
    return TRUE;
}

}  // namespace

StopOnSignal::StopOnSignal(std::function<void()> stop) {
    gStop = std::move(stop);
    gSignalled = 0;
    gDone = false;
    (void)::SetConsoleCtrlHandler(stopOnEvent, TRUE);
}

StopOnSignal::~StopOnSignal() {
    (void)::SetConsoleCtrlHandler(stopOnEvent, FALSE);
    {
        const std::lock_guard lock(gMutex);
        gDone = true;
    }
    gStopped.notify_all();
}

int StopOnSignal::signalled() { return gSignalled; }

void endBy(int /*signal*/) {}

}  // namespace profiledesk::office::serve
