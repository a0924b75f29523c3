#include <unistd.h>

#include <array>
#include <csignal>
#include <string>

#include "office/output/signal_cleanup.hpp"

namespace profiledesk::office {

namespace {

constexpr std::array<int, 3> kStoppingSignals{SIGINT, SIGTERM, SIGHUP};

// The handler reads only this: the text is in place before it is armed and stays until
// after it is disarmed.
std::string gPath;
volatile std::sig_atomic_t gArmed = 0;
std::array<struct sigaction, kStoppingSignals.size()> gPrevious{};
std::array<bool, kStoppingSignals.size()> gReplaced{};

extern "C" void removeAndDie(int signalNumber) {
    if (gArmed != 0) {
        (void)::unlink(gPath.c_str());
    }
    // The signal is held until this handler returns; then its default action ends us.
    (void)std::signal(signalNumber, SIG_DFL);
    (void)std::raise(signalNumber);
}

bool isIgnored(const struct sigaction& disposition) {
    return (disposition.sa_flags & SA_SIGINFO) == 0 && disposition.sa_handler == SIG_IGN;
}

}  // namespace

RemoveOnSignal::RemoveOnSignal(const std::string& path) {
    gPath = path;
    gArmed = 1;
    struct sigaction action {};
    action.sa_handler = removeAndDie;
    sigemptyset(&action.sa_mask);
    for (const int number : kStoppingSignals) {
        (void)sigaddset(&action.sa_mask, number);  // one handler at a time
    }
    for (std::size_t i = 0; i < kStoppingSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kStoppingSignals.at(i), nullptr, &current) != 0 || isIgnored(current)) {
            continue;
        }
        gReplaced.at(i) = ::sigaction(kStoppingSignals.at(i), &action, &gPrevious.at(i)) == 0;
    }
}

RemoveOnSignal::~RemoveOnSignal() {
    for (std::size_t i = 0; i < kStoppingSignals.size(); ++i) {
        if (gReplaced.at(i)) {
            (void)::sigaction(kStoppingSignals.at(i), &gPrevious.at(i), nullptr);
            gReplaced.at(i) = false;
        }
    }
    gArmed = 0;
}

}  // namespace profiledesk::office
