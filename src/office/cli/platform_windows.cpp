#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "office/cli/platform.hpp"

namespace profiledesk::office::platform {

void prepareProcess() {
    // Rows are written byte for byte: CSV ends its lines in CRLF itself, and a text-mode
    // standard output would turn them into CR CR LF.
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
}

bool errorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace profiledesk::office::platform
