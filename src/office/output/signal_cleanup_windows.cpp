#include <io.h>

#include <csignal>
#include <string>

#include "common/native_path.hpp"
#include "office/output/signal_cleanup.hpp"

namespace profiledesk::office {

namespace {

// Read by the handler only while armed; see the POSIX side.
std::wstring gPath;  // UTF-16, made before the handler may need it
volatile std::sig_atomic_t gArmed = 0;

extern "C" void removeAndDie(int signalNumber) {
    if (gArmed != 0) {
        (void)::_wunlink(gPath.c_str());
    }
    (void)std::signal(signalNumber, SIG_DFL);
    (void)std::raise(signalNumber);
}

}  // namespace

// Windows has no SIGHUP; Ctrl+C and Ctrl+Break arrive as SIGINT and SIGBREAK.
RemoveOnSignal::RemoveOnSignal(const std::string& path) {
    gPath = wideOf(path);
    gArmed = 1;
    for (const int number : {SIGINT, SIGTERM, SIGBREAK}) {
        (void)std::signal(number, removeAndDie);
    }
}

RemoveOnSignal::~RemoveOnSignal() {
    for (const int number : {SIGINT, SIGTERM, SIGBREAK}) {
        (void)std::signal(number, SIG_DFL);
    }
    gArmed = 0;
}

}  // namespace profiledesk::office
