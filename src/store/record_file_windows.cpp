// The record file on Windows: LockFileEx locks, FlushFileBuffers, and CRLF line ends
// written and read back by us, so that one write carries the whole record.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "store/line_ends.hpp"
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
    Status::Code code = Status::Code::ioError;
    if (error == ENOENT) {
        code = Status::Code::notFound;
    } else if (error == EACCES || error == EPERM) {
        code = Status::Code::accessDenied;
    }
    return Status::failure(code, what, path, std::strerror(error));
}

Status windowsFailure(const std::string& what, const std::string& path, DWORD error) {
    char reason[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          error, 0, reason, sizeof reason, nullptr);
    std::string text(reason, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    const Status::Code code =
        error == ERROR_ACCESS_DENIED ? Status::Code::accessDenied : Status::Code::ioError;
    return Status::failure(code, what, path, text.empty() ? "error " + std::to_string(error) : text);
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// Windows locks are mandatory: a locked byte cannot even be read by anyone else. So desks
// lock one byte far past any real record, as a gate, and the records themselves stay free
// to read: an append holds the gate alone, a listing shares it only to learn the size.
// The gate lies inside the whole-file ranges that earlier versions lock, so they still
// exclude each other.
OVERLAPPED gate() {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFEU;
    at.OffsetHigh = 0x7FFFFFFFU;
    return at;
}

bool lockGate(int fd, bool exclusive) {
    OVERLAPPED at = gate();
    const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    return ::LockFileEx(handleOf(fd), flags, 0, 1, 0, &at) != 0;
}

void unlockGate(int fd) {
    OVERLAPPED at = gate();
    ::UnlockFileEx(handleOf(fd), 0, 1, 0, &at);
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
    if (!lockGate(file.get(), true)) {
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
    unlockGate(file.get());
    return outcome;
}

RecordReader::RecordReader(const std::string& path, LineEnds ends) : path_(path), ends_(ends) {
    int fd = -1;
    const errno_t opened =
        ::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD);
    if (opened != 0) {
        status_ = errnoFailure("could not read", path_, opened);
        return;
    }
    file_.reset(fd);
    if (::GetFileType(handleOf(fd)) != FILE_TYPE_DISK) {
        status_ =
            Status::failure(Status::Code::notRegularFile, "could not read", path_, "not a regular file");
        file_.reset();
        return;
    }
    // Between appends the size ends on a whole record.
    if (!lockGate(file_.get(), false)) {
        status_ = windowsFailure("could not lock", path_, ::GetLastError());
        file_.reset();
        return;
    }
    const long long size = ::_filelengthi64(file_.get());
    unlockGate(file_.get());
    if (size < 0) {
        status_ = errnoFailure("could not read", path_, errno);
        file_.reset();
        return;
    }
    sized_ = true;
    remaining_ = static_cast<unsigned long long>(size);
}

RecordReader::~RecordReader() = default;

// Standard output is never handed over as a descriptor on Windows (see the console).
bool RecordReader::isSameFileAs(int /*descriptor*/) const { return false; }

// Binary reads, with CRLF turned into '\n' here: the C runtime's text mode would also end
// the file at the first Ctrl+Z, hiding every record stored after one.
std::size_t RecordReader::read(char* buffer, std::size_t size) {
    const auto wanted = std::min<unsigned long long>({size, remaining_, INT_MAX});
    if (wanted == 0) {
        return 0;
    }
    const int got = ::_read(file_.get(), buffer, static_cast<unsigned int>(wanted));
    if (got < 0) {
        status_ = errnoFailure("could not read", path_, errno);
        return 0;
    }
    const auto length = static_cast<std::size_t>(got);
    if (ends_ == LineEnds::asStored) {
        remaining_ -= length;
        return length;
    }
    const LineEndsRead converted = crlfToLf(buffer, length, length == remaining_);
    if (converted.consumed < length) {
        (void)::_lseeki64(file_.get(), static_cast<long long>(converted.consumed) - got, SEEK_CUR);
    }
    remaining_ -= converted.consumed;
    return converted.kept;
}

bool RecordReader::skip(unsigned long long bytes) {
    if (!sized_ || bytes > remaining_) {
        return false;
    }
    if (::_lseeki64(file_.get(), static_cast<long long>(bytes), SEEK_CUR) < 0) {
        status_ = errnoFailure("could not read", path_, errno);
        return false;
    }
    remaining_ -= bytes;
    return true;
}

bool RecordReader::copyRestTo(int /*outputDescriptor*/, bool& /*endsWithNewline*/) { return false; }

}  // namespace profiledesk
