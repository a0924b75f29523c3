#include "office/serve/listen_socket.hpp"

#include <sys/socket.h>

namespace profiledesk::office::serve {

void keepPortToItself(std::uintptr_t socket) {
    // SO_REUSEADDR alone: unlike SO_REUSEPORT, it lets nobody listen beside a running view.
    const int yes = 1;
    (void)::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace profiledesk::office::serve
