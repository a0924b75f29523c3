#pragma once

// The options of the socket the view listens on.

#include <cstdint>

namespace profiledesk::office::serve {

// Keeps the port to this view alone: a second view started on it is refused, rather than
// sharing the port and being handed half of the clerks' requests. A port left in TIME_WAIT by
// a view just stopped may still be taken again.
void keepPortToItself(std::uintptr_t socket);

}  // namespace profiledesk::office::serve
