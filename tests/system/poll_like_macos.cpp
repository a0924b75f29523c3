// Preloaded into the program by the closing pause tests of a build that waits with select:
// this poll() reports a terminal device as invalid, as macOS does, so a pause that still
// relies on poll fails there as it would on a Mac.

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <span>

extern "C" int poll(struct pollfd* fds, nfds_t nfds, int timeout) {
    const std::span<struct pollfd> watched(fds, nfds);
    int invalid = 0;
    for (struct pollfd& entry : watched) {
        entry.revents = 0;
        if (::isatty(entry.fd) == 1) {
            entry.revents = POLLNVAL;
            ++invalid;
        }
    }
    if (invalid > 0) {
        return invalid;
    }
    using Poll = int (*)(struct pollfd*, nfds_t, int);
    const auto next = reinterpret_cast<Poll>(::dlsym(RTLD_NEXT, "poll"));
    return next == nullptr ? -1 : next(fds, nfds, timeout);
}
