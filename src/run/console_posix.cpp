// The console on POSIX systems: the closing pause reads the controlling terminal in raw
// mode and puts the terminal back on every way out, signals included.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#if defined(PROFILEDESK_TTY_WAIT_SELECT)
#include <sys/select.h>
#else
#include <poll.h>
#endif

#include <array>
#include <cerrno>
#include <csignal>
#include <string>

#include "common/process.hpp"
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
            // A signal the parent ignored (SIGHUP under nohup) must stay harmless: leave it be.
            struct sigaction current {};
            if (::sigaction(kFatalSignals.at(i), nullptr, &current) != 0 || isIgnored(current)) {
                continue;
            }
            replaced_.at(i) = ::sigaction(kFatalSignals.at(i), &action, &previous_.at(i)) == 0;
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
                if (replaced_.at(i)) {
                    (void)::sigaction(kFatalSignals.at(i), &previous_.at(i), nullptr);
                }
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
    std::array<bool, kFatalSignals.size()> replaced_{};

    static bool isIgnored(const struct sigaction& disposition) {
        return (disposition.sa_flags & SA_SIGINFO) == 0 && disposition.sa_handler == SIG_IGN;
    }
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

#if defined(PROFILEDESK_TTY_WAIT_SELECT)
// True once `fd` has a byte to read, false after `timeoutMs` or on failure. macOS cannot
// poll a terminal device; select can wait on one.
bool awaitByte(int fd, int timeoutMs) {
    if (fd >= FD_SETSIZE) {
        return false;  // beyond what select can name: the key ends at the bytes already in
    }
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd, &ready);
        struct timeval timeout {};
        timeout.tv_sec = timeoutMs / 1000;
        timeout.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
        const int selected = ::select(fd + 1, &ready, nullptr, nullptr, &timeout);
        if (selected < 0 && errno == EINTR) {
            continue;
        }
        return selected > 0;
    }
}
#else
// True once `fd` has a byte to read, false after `timeoutMs` or on failure.
bool awaitByte(int fd, int timeoutMs) {
    for (;;) {
        struct pollfd ready {};
        ready.fd = fd;
        ready.events = POLLIN;
        const int polled = ::poll(&ready, 1, timeoutMs);
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        return polled > 0 && (ready.revents & POLLIN) != 0;
    }
}
#endif

// Reads one byte; in raw mode (one byte at least) this blocks until a key comes.
bool readByte(int fd, char& byte) {
    for (;;) {
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got == 1;
    }
}

}  // namespace

bool localTimeNow(std::tm& local) {
    const std::time_t now = std::time(nullptr);
    return now != static_cast<std::time_t>(-1) && ::localtime_r(&now, &local) != nullptr;
}

int outputDescriptor() { return STDOUT_FILENO; }

void waitForKey() {
    // The prompt asks for a key only where someone sees it: with output into a pipe or a
    // file the run ends at once, and the terminal is never touched.
    if (!process::outputIsTerminal()) {
        return;
    }
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
    if (!readByte(terminal.get(), byte)) {
        return;
    }
    key.push_back(byte);
    while (!isWholeKey(key) && awaitByte(terminal.get(), kRestOfKeyMs) && readByte(terminal.get(), byte)) {
        key.push_back(byte);
    }
}

}  // namespace profiledesk::console
