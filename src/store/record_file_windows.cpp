// The record file on Windows: LockFileEx locks, FlushFileBuffers, and CRLF line ends
// written and read back by us, so that one write carries the whole record.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "store/record_file.hpp"

namespace profiledesk {

void Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        (void)::_close(fd_);
    }
    fd_ = fd;
}

namespace {

Status errnoFailure(const std::string& what, const std::string& path, int error) {
    return Status::failure(what + " '" + path + "': " + std::strerror(error));
}

Status windowsFailure(const std::string& what, const std::string& path, DWORD error) {
    char reason[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          error, 0, reason, sizeof reason, nullptr);
    std::string text(reason, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    return Status::failure(what + " '" + path +
                           "': " + (text.empty() ? "error " + std::to_string(error) : text));
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// Locks the whole file, however far it grows, until unlocked or closed.
bool lockWholeFile(int fd, bool exclusive) {
    OVERLAPPED from{};
    const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    return ::LockFileEx(handleOf(fd), flags, 0, MAXDWORD, MAXDWORD, &from) != 0;
}

void unlockWholeFile(int fd) {
    OVERLAPPED from{};
    ::UnlockFileEx(handleOf(fd), 0, MAXDWORD, MAXDWORD, &from);
}

std::string withCrlf(std::string_view bytes) {
    std::string converted;
    converted.reserve(bytes.size() + bytes.size() / 16);
    for (const char c : bytes) {
        if (c == '\n') {
            converted.push_back('\r');
        }
        converted.push_back(c);
    }
    return converted;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const unsigned int chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<unsigned int>(bytes.size());
        const int written = ::_write(fd, bytes.data(), chunk);
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

Status appendWhole(const std::string& path, std::string_view bytes) {
    const std::string what = "could not save the record to";
    int fd = -1;
    const errno_t opened =
        ::_sopen_s(&fd, path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                   _S_IREAD | _S_IWRITE);
    const Descriptor file(fd);
    if (opened != 0 || file.get() < 0) {
        return errnoFailure(what, path, opened != 0 ? opened : errno);
    }
    if (!lockWholeFile(file.get(), true)) {
        return windowsFailure(what, path, ::GetLastError());
    }
    const long long sizeBefore = ::_filelengthi64(file.get());
    Status outcome = Status::ok();
    if (!writeAll(file.get(), withCrlf(bytes))) {
        outcome = errnoFailure(what, path, errno);
    } else if (::FlushFileBuffers(handleOf(file.get())) == 0) {
        outcome = windowsFailure(what, path, ::GetLastError());
    }
    if (!outcome.isOk() && sizeBefore >= 0) {
        // Take back whatever part of the record got in, so no later listing shows it torn.
        (void)::_chsize_s(file.get(), sizeBefore);
    }
    unlockWholeFile(file.get());
    return outcome;
}

RecordReader::RecordReader(const std::string& path) : path_(path) {
    int fd = -1;
    const errno_t opened =
        ::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD);
    if (opened != 0) {
        notFound_ = opened == ENOENT;
        status_ = errnoFailure("could not read", path_, opened);
        return;
    }
    file_.reset(fd);
    if (!lockWholeFile(file_.get(), false)) {
        status_ = windowsFailure("could not lock", path_, ::GetLastError());
        file_.reset();
    }
}

// Windows asks for locks to be released before the file is closed.
RecordReader::~RecordReader() {
    if (file_.get() >= 0) {
        unlockWholeFile(file_.get());
    }
}

// Standard output is never handed over as a descriptor on Windows (see the console).
bool RecordReader::isSameFileAs(int /*descriptor*/) const { return false; }

// Binary reads, with CRLF turned into '\n' here: the C runtime's text mode would also end
// the file at the first Ctrl+Z, hiding every record stored after one.
std::size_t RecordReader::read(char* buffer, std::size_t size) {
    const unsigned int chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    const int got = ::_read(file_.get(), buffer, chunk);
    if (got < 0) {
        status_ = errnoFailure("could not read", path_, errno);
        return 0;
    }
    auto length = static_cast<std::size_t>(got);
    if (length > 1 && buffer[length - 1] == '\r') {
        // Leave a final CR for the next read, to be seen together with the LF that may follow.
        (void)::_lseeki64(file_.get(), -1, SEEK_CUR);
        --length;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (buffer[i] == '\r' && i + 1 < length && buffer[i + 1] == '\n') {
            continue;
        }
        buffer[kept++] = buffer[i];
    }
    return kept;
}

bool RecordReader::copyRestTo(int /*outputDescriptor*/, bool& /*endsWithNewline*/) { return false; }

}  // namespace profiledesk
