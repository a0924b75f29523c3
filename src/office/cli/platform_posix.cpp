#include <unistd.h>

#include <csignal>

#include "office/cli/platform.hpp"

namespace profiledesk::office::platform {

void prepareProcess() {
    // Past a file-size limit a write must fail with an error we can report, not kill us.
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> arguments(int argc, char** argv) { return {argv, argv + argc}; }

bool errorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace profiledesk::office::platform
