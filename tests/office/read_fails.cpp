// Preloaded into profiledesk-records by the export tests: once part of the file named by
// PROFILEDESK_READ_FAILS_FOR has been read, every further read of it fails with EIO, as a
// failing disk's would in the middle of a file.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

bool isTheFailingFile(int fd) {
    const char* failing = std::getenv("PROFILEDESK_READ_FAILS_FOR");
    if (failing == nullptr) {
        return false;
    }
    std::array<char, 4096> path{};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size() - 1);
    return length > 0 && std::string(path.data(), static_cast<std::size_t>(length)) == failing;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t nbytes) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const auto next = reinterpret_cast<Read>(::dlsym(RTLD_NEXT, "read"));
    if (::lseek(fd, 0, SEEK_CUR) > 0 && isTheFailingFile(fd)) {
        errno = EIO;
        return -1;
    }
    return next == nullptr ? -1 : next(fd, buf, nbytes);
}
