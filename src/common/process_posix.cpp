#include <unistd.h>

#include <csignal>

#include "common/process.hpp"

namespace profiledesk::process {

// Both kinds of output are bytes here.
void prepare(Output /*output*/) {
    // Past a file-size limit a write must fail with an error we can report, not kill us.
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> arguments(int argc, char** argv) { return {argv, argv + argc}; }

void keepRunningWhenOutputCloses() { (void)std::signal(SIGPIPE, SIG_IGN); }

bool outputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool errorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace profiledesk::process
