#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <array>
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

std::string loginName() {
    std::array<wchar_t, 257> name{};  // UNLEN + 1
    DWORD size = static_cast<DWORD>(name.size());
    return ::GetUserNameW(name.data(), &size) != 0 ? utf8Of(std::wstring_view(name.data(), size - 1))
                                                   : std::string();
}

bool outputIsFile(const std::string& path) {
    // A file is the same as another where its volume and index are.
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION written{};
    if (output == INVALID_HANDLE_VALUE || ::GetFileType(output) != FILE_TYPE_DISK ||
        ::GetFileInformationByHandle(output, &written) == 0) {
        return false;
    }
    const HANDLE file =
        ::CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION read{};
    const bool same = ::GetFileInformationByHandle(file, &read) != 0 &&
                      read.dwVolumeSerialNumber == written.dwVolumeSerialNumber &&
                      read.nFileIndexHigh == written.nFileIndexHigh &&
                      read.nFileIndexLow == written.nFileIndexLow;
    ::CloseHandle(file);
    return same;
}

}  // namespace profiledesk::process
