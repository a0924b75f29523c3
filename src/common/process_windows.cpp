#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "common/process.hpp"

namespace profiledesk::process {

void prepare(Output output) {
    // Bytes are written as they are: a text-mode standard output would turn the CRLF that
    // CSV ends its lines in into CR CR LF.
    if (output == Output::bytes) {
        (void)::_setmode(::_fileno(stdout), _O_BINARY);
    }
}

// A closed pipe already makes a write fail here, with no signal.
void keepRunningWhenOutputCloses() {}

bool outputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

bool errorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace profiledesk::process
