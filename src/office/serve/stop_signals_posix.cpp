#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include "office/serve/stop_signals.hpp"

namespace profiledesk::office::serve {

namespace {

constexpr std::array<int, 3> kStoppingSignals{SIGINT, SIGTERM, SIGHUP};

// The handler only writes the signal's number to this pipe; the thread reading it does the
// rest. A 0 written by the destructor ends the thread.
std::array<int, 2> gPipe{-1, -1};
std::array<struct sigaction, kStoppingSignals.size()> gPrevious{};
std::array<bool, kStoppingSignals.size()> gReplaced{};
std::atomic<int> gSignalled{0};
std::thread gWatcher;

extern "C" void tellWatcher(int signalNumber) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(gPipe[1], &byte, 1);
    errno = saved;
}

bool isIgnored(const struct sigaction& disposition) {
    return (disposition.sa_flags & SA_SIGINFO) == 0 && disposition.sa_handler == SIG_IGN;
}

}  // namespace

StopOnSignal::StopOnSignal(std::function<void()> stop) {
    if (::pipe(gPipe.data()) != 0) {
        return;  // no way to be told: the default actions stay, and end the process
    }
    (void)::fcntl(gPipe[1], F_SETFL, O_NONBLOCK);
    gSignalled = 0;
    gWatcher = std::thread([stop = std::move(stop)] {
        unsigned char byte = 0;
        ssize_t got = 0;
        while ((got = ::read(gPipe[0], &byte, 1)) < 0 && errno == EINTR) {
        }
        if (got == 1 && byte != 0) {
            gSignalled = byte;
            stop();
        }
    });
    struct sigaction action {};
    action.sa_handler = tellWatcher;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStoppingSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kStoppingSignals.at(i), nullptr, &current) != 0 || isIgnored(current)) {
            continue;
        }
        gReplaced.at(i) = ::sigaction(kStoppingSignals.at(i), &action, &gPrevious.at(i)) == 0;
    }
}

StopOnSignal::~StopOnSignal() {
    for (std::size_t i = 0; i < kStoppingSignals.size(); ++i) {
        if (gReplaced.at(i)) {
            (void)::sigaction(kStoppingSignals.at(i), &gPrevious.at(i), nullptr);
            gReplaced.at(i) = false;
        }
    }
    if (gWatcher.joinable()) {
        const unsigned char end = 0;
        (void)!::write(gPipe[1], &end, 1);
        gWatcher.join();
    }
    for (int& end : gPipe) {
        if (end >= 0) {
            (void)::close(end);
            end = -1;
        }
    }
}

int StopOnSignal::signalled() { return gSignalled; }

void endBy(int signal) {
    if (signal == 0) {
        return;
    }
    struct sigaction now {};
    if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
        (void)std::raise(signal);
    }
}

}  // namespace profiledesk::office::serve
