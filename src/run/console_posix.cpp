// The console on POSIX systems: the closing pause reads the controlling terminal in raw
// mode and puts the terminal back on every way out, signals included.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <string>

#include "run/console.hpp"
#include "run/key_decisions.hpp"

namespace profiledesk::console {

namespace {

// The terminal being waited on and its saved mode, for the signal handler to restore.
volatile std::sig_atomic_t gTerminal = -1;
struct termios gSavedMode {};

// Signals whose default action ends the program: each must first put the terminal back.
constexpr std::array<int, 7> kFatalSignals{SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};

extern "C" void restoreAndDie(int signalNumber) {
    if (gTerminal >= 0) {
        (void)::tcsetattr(gTerminal, TCSANOW, &gSavedMode);
    }
    // Die of the signal as usual, so the parent sees why.
    (void)::signal(signalNumber, SIG_DFL);
    (void)::raise(signalNumber);
}

// Raw mode, and the signal handlers that undo it, for as long as this object lives.
class RawMode {
public:
    explicit RawMode(int terminal) : terminal_(terminal) {
        if (::tcgetattr(terminal, &gSavedMode) != 0) {
            return;
        }
        struct sigaction action {};
        action.sa_handler = restoreAndDie;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
            (void)::sigaction(kFatalSignals.at(i), &action, &previous_.at(i));
        }
        gTerminal = terminal;
        struct termios raw = gSavedMode;
        // No line editing, no echo, no signals from keys (Ctrl+C is a key like any other),
        // no flow control (Ctrl+S and Ctrl+Q too), carriage return left as it is.
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
        raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(terminal, TCSANOW, &raw) == 0;
    }
    ~RawMode() {
        if (gTerminal >= 0) {
            (void)::tcsetattr(terminal_, TCSANOW, &gSavedMode);
            gTerminal = -1;
            for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
                (void)::sigaction(kFatalSignals.at(i), &previous_.at(i), nullptr);
            }
        }
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

    [[nodiscard]] bool active() const { return active_; }

private:
    int terminal_;
    bool active_ = false;
    std::array<struct sigaction, kFatalSignals.size()> previous_{};
};

class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Terminal() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    [[nodiscard]] int get() const { return fd_; }

    // A process in the background would be stopped for reading its terminal.
    [[nodiscard]] bool inForeground() const { return fd_ >= 0 && ::tcgetpgrp(fd_) == ::getpgrp(); }

private:
    int fd_;
};

// Reads one byte, waiting at most `timeoutMs` (-1: for ever). False on timeout or failure.
bool readByte(int fd, int timeoutMs, char& byte) {
    for (;;) {
        struct pollfd ready {};
        ready.fd = fd;
        ready.events = POLLIN;
        const int polled = ::poll(&ready, 1, timeoutMs);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return false;
        }
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got == 1;
    }
}

}  // namespace

void prepareProcess() {
    // Past a file-size limit a write must fail with an error we can report, not kill us.
    (void)::signal(SIGXFSZ, SIG_IGN);
}

bool localTimeNow(std::tm& local) {
    const std::time_t now = std::time(nullptr);
    return now != static_cast<std::time_t>(-1) && ::localtime_r(&now, &local) != nullptr;
}

int outputDescriptor() { return STDOUT_FILENO; }

bool outputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void waitForKey() {
    const Terminal terminal;
    if (!terminal.inForeground()) {
        return;
    }
    const RawMode raw(terminal.get());
    if (!raw.active()) {
        return;
    }
    // The rest of a key's byte sequence follows its first byte at once; a short wait
    // tells a lone Escape from the start of an arrow key's sequence.
    constexpr int kRestOfKeyMs = 50;
    std::string key;
    char byte = 0;
    if (!readByte(terminal.get(), -1, byte)) {
        return;
    }
    key.push_back(byte);
    while (!isWholeKey(key) && readByte(terminal.get(), kRestOfKeyMs, byte)) {
        key.push_back(byte);
    }
}

}  // namespace profiledesk::console
