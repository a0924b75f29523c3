#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

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

std::string loginName() {
    // The account the process runs as, not what the environment claims.
    const passwd* account = ::getpwuid(::geteuid());  // NOLINT(concurrency-mt-unsafe): before any thread
    if (account != nullptr && account->pw_name != nullptr) {
        return account->pw_name;
    }
    const char* user = std::getenv("USER");  // NOLINT(concurrency-mt-unsafe)
    return user != nullptr ? user : "";
}

bool outputIsFile(const std::string& path) {
    struct stat output {};
    struct stat file {};
    return ::fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
           ::stat(path.c_str(), &file) == 0 && output.st_dev == file.st_dev && output.st_ino == file.st_ino;
}

}  // namespace profiledesk::process
