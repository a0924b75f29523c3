#include "office/serve/listen_socket.hpp"

#include <winsock2.h>

namespace profiledesk::office::serve {

void keepPortToItself(std::uintptr_t socket) {
    // On Windows SO_REUSEADDR would let another program take the port over; this refuses it.
    const BOOL yes = TRUE;
    (void)::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                       reinterpret_cast<const char*>(&yes), sizeof yes);  // NOLINT: the API's type
}

}  // namespace profiledesk::office::serve
