// The record file's primitives on Windows: LockFileEx locks, FlushFileBuffers, and binary
// reads and writes, the CRLF line ends being written and read back by the record file itself.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/native_path.hpp"
#include "store/file_primitives.hpp"

namespace profiledesk {

namespace {

SystemError errnoError(int error) {
    Status::Code code = Status::Code::ioError;
    if (error == ENOENT) {
        code = Status::Code::notFound;
    } else if (error == EACCES || error == EPERM) {
        code = Status::Code::accessDenied;
    } else if (error == EEXIST) {
        code = Status::Code::conflict;  // made meanwhile, or a symbolic link to nothing
    }
    return SystemError{code, std::strerror(error)};
}

SystemError errnoUnless(bool succeeded) { return succeeded ? SystemError{} : errnoError(errno); }

SystemError windowsError(DWORD error) {
    char reason[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          error, 0, reason, sizeof reason, nullptr);
    std::string text(reason, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    const Status::Code code =
        error == ERROR_ACCESS_DENIED ? Status::Code::accessDenied : Status::Code::ioError;
    return SystemError{code, text.empty() ? "error " + std::to_string(error) : text};
}

SystemError windowsUnless(bool succeeded) {
    return succeeded ? SystemError{} : windowsError(::GetLastError());
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// Windows locks are mandatory: a locked byte cannot even be read by anyone else. So desks
// lock one byte far past any real record, as a gate, and the records themselves stay free
// to read: an append holds the gate alone, a listing shares it only to learn the size. The
// gate lies inside any lock of the whole file, so such a lock, held by any program, excludes
// the desks too.
OVERLAPPED gate() {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFEU;
    at.OffsetHigh = 0x7FFFFFFFU;
    return at;
}

// Opened by its UTF-16 name, so that a name outside the ANSI code page opens.
SystemError openWith(const std::string& path, int flags, int& handle) {
    handle = -1;
    const std::wstring name = wideOf(path);
    const errno_t opened = ::_wsopen_s(&handle, name.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                                       _S_IREAD | _S_IWRITE);
    if (opened == EACCES) {
        // Windows refuses to open a folder as "access denied": say what it is.
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return SystemError{Status::Code::notRegularFile, std::strerror(EISDIR)};
        }
    } else if (opened == EINVAL) {
        return errnoError(ENOENT);  // a name no file can have, such as a pattern that matched nothing
    }
    return opened != 0 ? errnoError(opened) : errnoUnless(handle >= 0);
}

class WindowsFiles final : public FilePrimitives {
public:
    SystemError openForAppend(const std::string& path, int& handle) override {
        return openWith(path, _O_WRONLY | _O_APPEND, handle);
    }

    SystemError createForAppend(const std::string& path, int& handle) override {
        return openWith(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_EXCL, handle);
    }

    // Opening a pipe never waits here: it is there to connect to, or refused at once.
    SystemError openForRead(const std::string& path, int& handle, bool /*waitForWriter*/) override {
        return openWith(path, _O_RDONLY, handle);
    }

    void close(int handle) override { (void)::_close(handle); }

    // Only a file on disk counts as regular; a pipe here is refused like a device.
    SystemError describe(int handle, FileInfo& info) override {
        if (::GetFileType(handleOf(handle)) != FILE_TYPE_DISK) {
            info.kind = FileKind::other;
            return {};
        }
        info.kind = FileKind::regular;
        const long long size = ::_filelengthi64(handle);
        info.size = size < 0 ? 0 : static_cast<std::uint64_t>(size);
        return errnoUnless(size >= 0);
    }

    SystemError lock(int handle, bool exclusive, bool& supported) override {
        supported = true;
        OVERLAPPED at = gate();
        const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
        return windowsUnless(::LockFileEx(handleOf(handle), flags, 0, 1, 0, &at) != 0);
    }

    void unlock(int handle) override {
        OVERLAPPED at = gate();
        ::UnlockFileEx(handleOf(handle), 0, 1, 0, &at);
    }

    SystemError write(int handle, std::string_view bytes, std::size_t& done) override {
        const unsigned int chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<unsigned int>(bytes.size());
        const int written = ::_write(handle, bytes.data(), chunk);
        done = written <= 0 ? 0 : static_cast<std::size_t>(written);
        return errnoUnless(written > 0);
    }

    SystemError read(int handle, char* buffer, std::size_t size, std::size_t& done) override {
        const int got =
            ::_read(handle, buffer, static_cast<unsigned int>(std::min<std::size_t>(size, INT_MAX)));
        done = got < 0 ? 0 : static_cast<std::size_t>(got);
        return errnoUnless(got >= 0);
    }

    SystemError position(int handle, std::uint64_t& offset) override {
        const long long at = ::_lseeki64(handle, 0, SEEK_CUR);
        offset = at < 0 ? 0 : static_cast<std::uint64_t>(at);
        return errnoUnless(at >= 0);
    }

    SystemError seek(int handle, std::uint64_t offset) override {
        return errnoUnless(::_lseeki64(handle, static_cast<long long>(offset), SEEK_SET) >= 0);
    }

    SystemError syncData(int handle) override {
        return windowsUnless(::FlushFileBuffers(handleOf(handle)) != 0);
    }

    SystemError truncate(int handle, std::uint64_t size) override {
        const errno_t failed = ::_chsize_s(handle, static_cast<long long>(size));
        return failed != 0 ? errnoError(failed) : SystemError{};
    }

    SystemError syncFolderOf(const std::string& /*path*/) override { return {}; }

    // Standard output is never handed over as a descriptor on Windows (see the console).
    bool isSameFile(int /*handle*/, int /*descriptor*/) override { return false; }

    [[nodiscard]] bool storesCrlf() const override { return true; }
    [[nodiscard]] bool copiesToDescriptors() const override { return false; }

    CopyOutcome copy(int /*handle*/, int /*descriptor*/, std::uint64_t /*offset*/, std::size_t /*count*/,
                     std::size_t& done, SystemError& /*error*/) override {
        done = 0;
        return CopyOutcome::unsupported;
    }
};

}  // namespace

FilePrimitives& platformFiles() {
    static WindowsFiles files;
    return files;
}

namespace {

// Closes its descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            (void)::_close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

Status errnoFailure(const std::string& what, const std::string& path, int error) {
    const SystemError failed = errnoError(error);
    return Status::failure(failed.code, what, path, failed.reason);
}

Status windowsFailure(const std::string& what, const std::string& path, DWORD error) {
    const SystemError failed = windowsError(error);
    return Status::failure(failed.code, what, path, failed.reason);
}

}  // namespace

Status createEmpty(const std::string& path, bool /*privately*/) {
    // The folder's inherited access rights decide who may read it, as for any new file.
    const Descriptor made(
        ::_wopen(wideOf(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE));
    if (made.get() < 0) {
        return errnoFailure("could not create", path, errno);
    }
    return Status::ok();
}

Status replaceDurably(const std::string& partial, const std::string& target) {
    {
        const Descriptor file(::_wopen(wideOf(partial).c_str(), _O_WRONLY | _O_BINARY));
        if (file.get() < 0) {
            return errnoFailure("could not open", partial, errno);
        }
        if (::FlushFileBuffers(handleOf(file.get())) == 0) {
            return windowsFailure("could not write", partial, ::GetLastError());
        }
    }
    // Write-through: the move is on the disk when this returns; folders need no sync here.
    if (::MoveFileExW(wideOf(partial).c_str(), wideOf(target).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        return windowsFailure("could not replace", target, ::GetLastError());
    }
    return Status::ok();
}

}  // namespace profiledesk
