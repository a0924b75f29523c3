#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "common/native_path.hpp"
#include "office/cli/platform.hpp"

namespace profiledesk::office::platform {

void prepareProcess() {
    // Rows are written byte for byte: CSV ends its lines in CRLF itself, and a text-mode
    // standard output would turn them into CR CR LF. Standard error follows it, so that
    // both streams end their lines the same way (LF), as on every other system.
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
    (void)::_setmode(::_fileno(stderr), _O_BINARY);
}

std::vector<std::string> arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                               &::LocalFree);
    if (!wide) {
        return {argv, argv + argc};
    }
    std::vector<std::string> read;
    for (int i = 0; i < count; ++i) {
        read.push_back(utf8Of(wide.get()[i]));  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    return read;
}

bool errorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace profiledesk::office::platform
