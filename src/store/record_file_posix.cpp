// The record file's primitives on POSIX systems: fcntl record locks (which also hold on
// network shares), O_APPEND writes, data syncs, and copy_file_range or sendfile for the listing
// where there is one.

#include "store/record_file_posix.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef HAVE_SENDFILE
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "store/file_primitives.hpp"

namespace profiledesk {

namespace posix {
namespace {

int setLockWaiting(int fd, struct flock* lock) { return ::fcntl(fd, F_SETLKW, lock); }

SetLockCall gSetLock = setLockWaiting;

}  // namespace

SetLockCall replaceSetLockCall(SetLockCall call) { return std::exchange(gSetLock, call); }

}  // namespace posix

namespace {

SystemError errorOf(int error) {
    Status::Code code = Status::Code::ioError;
    switch (error) {
        case ENOENT: code = Status::Code::notFound; break;
        case EACCES:
        case EPERM: code = Status::Code::accessDenied; break;
        case EISDIR: code = Status::Code::notRegularFile; break;
        default: break;
    }
    return SystemError{code, std::strerror(error)};
}

SystemError lastError() { return errorOf(errno); }

SystemError errorUnless(bool succeeded) { return succeeded ? SystemError{} : lastError(); }

// Devices, pipes and some folders cannot be synced; for them there is nothing more to do.
bool syncedOrUnsyncable(int result) {
    return result == 0 || errno == EINVAL || errno == EROFS || errno == ENOTSUP;
}

// Everything about the file, its size and name included, down to the disk itself: macOS's
// fsync stops at the drive's cache, F_FULLFSYNC goes through it where the drive allows.
bool syncAll(int fd) {
#ifdef HAVE_F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0) {
        return true;
    }
#endif
    return syncedOrUnsyncable(::fsync(fd));
}

// Sets, waits for or drops a lock on the whole file; `type` is F_RDLCK, F_WRLCK or F_UNLCK.
int lockWholeFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end of the file, however far it grows
    int result = 0;
    do {
        result = posix::gSetLock(fd, &lock);
    } while (result == -1 && errno == EINTR);
    return result;
}

// Clears O_NONBLOCK from a descriptor opened with it, closing it if that fails.
SystemError blocking(int& fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        return {};
    }
    SystemError error = lastError();
    (void)::close(fd);
    fd = -1;
    return error;
}

class PosixFiles final : public FilePrimitives {
public:
    // O_NONBLOCK, so that a FIFO nobody reads fails at once (ENXIO) instead of waiting for a
    // reader; the record file's own writes then block as any write does.
    SystemError openForAppend(const std::string& path, int& handle) override {
        handle = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (handle < 0 && errno == ENXIO) {
            return SystemError{Status::Code::notRegularFile, "not a regular file"};
        }
        return handle >= 0 ? blocking(handle) : lastError();
    }

    // Mode 0666 less the umask, so that desks sharing a folder can all append.
    SystemError createForAppend(const std::string& path, int& handle) override {
        handle = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return handle >= 0 || errno != EEXIST ? errorUnless(handle >= 0)
                                              : SystemError{Status::Code::conflict, std::strerror(EEXIST)};
    }

    SystemError openForRead(const std::string& path, int& handle, bool waitForWriter) override {
        // No controlling terminal from a device named datas.dat, even for the moment it is open.
        handle = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (waitForWriter ? 0 : O_NONBLOCK));
        if (handle < 0 && errno == ENXIO) {
            return SystemError{Status::Code::notRegularFile, "not a regular file"};  // a socket
        }
        return handle < 0 ? lastError() : waitForWriter ? SystemError{} : blocking(handle);
    }

    void close(int handle) override { (void)::close(handle); }

    SystemError describe(int handle, FileInfo& info) override {
        struct stat status {};
        if (::fstat(handle, &status) != 0) {
            return lastError();
        }
        info.kind = S_ISREG(status.st_mode)    ? FileKind::regular
                    : S_ISFIFO(status.st_mode) ? FileKind::fifo
                    : S_ISDIR(status.st_mode)  ? FileKind::folder
                                               : FileKind::other;
        info.size = static_cast<std::uint64_t>(status.st_size);
        return {};
    }

    SystemError lock(int handle, bool exclusive, bool& supported) override {
        const bool held = lockWholeFile(handle, exclusive ? F_WRLCK : F_RDLCK) == 0;
        supported = held || (errno != ENOLCK && errno != ENOTSUP);
        return errorUnless(held || !supported);
    }

    void unlock(int handle) override { (void)lockWholeFile(handle, F_UNLCK); }

    SystemError write(int handle, std::string_view bytes, std::size_t& done) override {
        ssize_t written = 0;
        do {
            written = ::write(handle, bytes.data(), bytes.size());
        } while (written < 0 && errno == EINTR);
        done = written < 0 ? 0 : static_cast<std::size_t>(written);
        return errorUnless(written >= 0);
    }

    SystemError read(int handle, char* buffer, std::size_t size, std::size_t& done) override {
        ssize_t got = 0;
        do {
            got = ::read(handle, buffer, size);
        } while (got < 0 && errno == EINTR);
        done = got < 0 ? 0 : static_cast<std::size_t>(got);
        return errorUnless(got >= 0);
    }

    SystemError position(int handle, std::uint64_t& offset) override {
        const off_t at = ::lseek(handle, 0, SEEK_CUR);
        offset = at < 0 ? 0 : static_cast<std::uint64_t>(at);
        return errorUnless(at >= 0);
    }

    SystemError seek(int handle, std::uint64_t offset) override {
        return errorUnless(::lseek(handle, static_cast<off_t>(offset), SEEK_SET) >= 0);
    }

    // The file's bytes and what is needed to read them back; no timestamps.
    SystemError syncData(int handle) override {
#ifdef HAVE_FDATASYNC
        return errorUnless(syncedOrUnsyncable(::fdatasync(handle)));
#else
        return errorUnless(syncAll(handle));
#endif
    }

    SystemError truncate(int handle, std::uint64_t size) override {
        return errorUnless(::ftruncate(handle, static_cast<off_t>(size)) == 0);
    }

    SystemError syncFolderOf(const std::string& path) override {
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            // A folder the user may write in but not read: nothing to open, nothing to sync.
            return errorUnless(errno == EACCES);
        }
        SystemError error = errorUnless(syncAll(fd));
        (void)::close(fd);
        return error;
    }

    bool isSameFile(int handle, int descriptor) override {
        struct stat ours {};
        struct stat theirs {};
        return ::fstat(handle, &ours) == 0 && ::fstat(descriptor, &theirs) == 0 && S_ISREG(ours.st_mode) &&
               ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
    }

    [[nodiscard]] bool storesCrlf() const override { return false; }
    [[nodiscard]] bool copiesToDescriptors() const override { return true; }

    CopyOutcome copy(int handle, int descriptor, std::uint64_t offset, std::size_t count, std::size_t& done,
                     SystemError& error) override {
#ifdef HAVE_COPY_FILE_RANGE
        // Into a regular file the kernel copies file to file, measured faster than sendfile;
        // an O_APPEND file (EBADF) or another file system (EXDEV) takes the copy below.
        if (struct stat target{}; ::fstat(descriptor, &target) == 0 && S_ISREG(target.st_mode)) {
            auto at = static_cast<off_t>(offset);
            ssize_t sent = 0;
            do {
                sent = ::copy_file_range(handle, &at, descriptor, nullptr, count, 0);
            } while (sent < 0 && errno == EINTR);
            if (sent >= 0) {
                done = static_cast<std::size_t>(sent);
                return CopyOutcome::copied;
            }
            if (errno != EBADF && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                errno != EOPNOTSUPP) {
                done = 0;
                error = lastError();
                return CopyOutcome::writeFailed;
            }
        }
#endif
        return streamCopy(handle, descriptor, offset, count, done, error);
    }

private:
#ifdef HAVE_SENDFILE
    static CopyOutcome streamCopy(int handle, int descriptor, std::uint64_t offset, std::size_t count,
                                  std::size_t& done, SystemError& error) {
        auto at = static_cast<off_t>(offset);
        ssize_t sent = 0;
        do {
            sent = ::sendfile(descriptor, handle, &at, count);
        } while (sent < 0 && errno == EINTR);
        done = sent < 0 ? 0 : static_cast<std::size_t>(sent);
        if (sent >= 0) {
            return CopyOutcome::copied;
        }
        error = lastError();
        return errno == EINVAL || errno == ENOSYS ? CopyOutcome::unsupported : CopyOutcome::writeFailed;
    }
#else
    // Without a kernel copy, a plain read and write through a buffer of our own; a short
    // write is fine, as the next copy starts where this one's bytes ended.
    CopyOutcome streamCopy(int handle, int descriptor, std::uint64_t offset, std::size_t count,
                           std::size_t& done, SystemError& error) {
        constexpr std::size_t kCopyChunk = std::size_t{128} * 1024;
        // NOLINTNEXTLINE(modernize-avoid-c-arrays): std::array would be zero-filled, or on the stack
        const auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunk);
        done = 0;
        ssize_t got = 0;
        do {
            got = ::pread(handle, buffer.get(), std::min(count, kCopyChunk), static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            error = errorUnless(got == 0);
            return got == 0 ? CopyOutcome::copied : CopyOutcome::readFailed;
        }
        const std::string_view bytes(buffer.get(), static_cast<std::size_t>(got));
        error = write(descriptor, bytes, done);
        return error.failed() ? CopyOutcome::writeFailed : CopyOutcome::copied;
    }
#endif
};

}  // namespace

FilePrimitives& platformFiles() {
    static PosixFiles files;
    return files;
}

namespace {

// Closes its descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            (void)::close(fd_);
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

Status systemFailure(const std::string& what, const std::string& path, int error) {
    const SystemError failed = errorOf(error);
    return Status::failure(failed.code, what, path, failed.reason);
}

}  // namespace

Status createEmpty(const std::string& path, bool privately) {
    const Descriptor made(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privately ? 0600 : 0666));
    if (made.get() < 0) {
        return systemFailure("could not create", path, errno);
    }
    return Status::ok();
}

Status replaceDurably(const std::string& partial, const std::string& target) {
    const Descriptor file(::open(partial.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return systemFailure("could not open", partial, errno);
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        // Owner first: a change of owner clears the set-user-ID bits that the mode may give.
        if (::fchown(file.get(), old.st_uid, old.st_gid) != 0) {
            (void)::fchown(file.get(), static_cast<uid_t>(-1), old.st_gid);  // a group of the user's own
        }
        if (::fchmod(file.get(), old.st_mode & 07777) != 0) {
            return systemFailure("could not set the mode of", partial, errno);
        }
    }
    if (!syncAll(file.get())) {
        return systemFailure("could not write", partial, errno);
    }
    if (::rename(partial.c_str(), target.c_str()) != 0) {
        return systemFailure("could not replace", target, errno);
    }
    const SystemError folder = platformFiles().syncFolderOf(target);
    if (folder.failed()) {
        return Status::failure(folder.code, "could not write the folder of", target, folder.reason);
    }
    return Status::ok();
}

}  // namespace profiledesk
