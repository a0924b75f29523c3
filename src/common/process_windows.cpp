#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "common/native_path.hpp"
#include "common/process.hpp"

namespace profiledesk::process {

void prepare(Output output) {
    // Bytes are written as they are: a text-mode standard output would turn the CRLF that
    // CSV ends its lines in into CR CR LF. Standard error follows it, so that both streams
    // end their lines in LF alike, and a mix of the two (2>&1) is of one kind.
    if (output == Output::bytes) {
        (void)::_setmode(::_fileno(stdout), _O_BINARY);
        (void)::_setmode(::_fileno(stderr), _O_BINARY);
    }
}

std::vector<std::string> arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    if (!wide) {
        return {argv, argv + argc};
    }
    std::vector<std::string> read;
    for (int i = 0; i < count; ++i) {
        read.push_back(utf8Of(wide.get()[i]));  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    return read;
}

// A closed pipe already makes a write fail here, with no signal.
void keepRunningWhenOutputCloses() {}

bool outputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

bool errorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace profiledesk::process
