// The record file on POSIX systems: fcntl record locks (which also hold on network
// shares), O_APPEND writes, data syncs, and sendfile for the listing where there is one.

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

#include "store/record_file.hpp"

namespace profiledesk {

void Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        (void)::close(fd_);
    }
    fd_ = fd;
}

namespace posix {
namespace {

int setLockWaiting(int fd, struct flock* lock) { return ::fcntl(fd, F_SETLKW, lock); }

SetLockCall gSetLock = setLockWaiting;

}  // namespace

SetLockCall replaceSetLockCall(SetLockCall call) { return std::exchange(gSetLock, call); }

}  // namespace posix

namespace {

Status::Code codeOf(int error) {
    switch (error) {
        case ENOENT: return Status::Code::notFound;
        case EACCES:
        case EPERM: return Status::Code::accessDenied;
        case EISDIR: return Status::Code::notRegularFile;
        default: return Status::Code::ioError;
    }
}

Status systemFailure(const std::string& what, const std::string& path, int error) {
    return Status::failure(codeOf(error), what, path, std::strerror(error));
}

enum class Lock { held, unsupported, failed };

// Waits for a lock on the whole file; `type` is F_RDLCK, F_WRLCK or F_UNLCK.
Lock lockWholeFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end of the file, however far it grows
    while (posix::gSetLock(fd, &lock) == -1) {
        if (errno == ENOLCK || errno == ENOTSUP) {
            return Lock::unsupported;
        }
        if (errno != EINTR) {
            return Lock::failed;
        }
    }
    return Lock::held;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

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

// The file's bytes and what is needed to read them back; no timestamps.
bool syncData(int fd) {
#ifdef HAVE_FDATASYNC
    return syncedOrUnsyncable(::fdatasync(fd));
#else
    return syncAll(fd);
#endif
}

// A new file's name lives in its folder, which a crash can lose without this.
bool syncFolderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
    const Descriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.get() < 0) {
        return errno == EACCES;  // a folder the user may write in but not read: nothing to open
    }
    return syncAll(handle.get());
}

// Opens the file for appending; `created` tells whether this call made it.
int openForAppend(const std::string& path, bool& created) {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
    for (;;) {
        const int existing = ::open(path.c_str(), kFlags);
        if (existing >= 0 || errno != ENOENT) {
            created = false;
            return existing;
        }
        // Mode 0666 less the umask, so that desks sharing a folder can all append.
        const int made = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        if (made >= 0 || errno != EEXIST) {
            created = made >= 0;
            return made;
        }
        // Another desk made it between the two calls: open theirs.
    }
}

}  // namespace

Status appendWhole(const std::string& path, std::string_view bytes) {
    const std::string what = "could not save the record to";
    bool created = false;
    const Descriptor file(openForAppend(path, created));
    if (file.get() < 0) {
        return systemFailure(what, path, errno);
    }
    if (created && !syncFolderOf(path)) {
        return systemFailure(what, path, errno);
    }
    const Lock lock = lockWholeFile(file.get(), F_WRLCK);
    if (lock == Lock::failed) {
        return systemFailure(what, path, errno);
    }
    struct stat before {};
    if (::fstat(file.get(), &before) != 0) {
        return systemFailure(what, path, errno);
    }
    if (writeAll(file.get(), bytes) && syncData(file.get())) {
        return Status::ok();
    }
    const int error = errno;
    if (lock == Lock::unsupported) {
        // Unlocked, another desk may have appended after our part: cutting back would take theirs.
        Status failed = systemFailure(what, path, error);
        return Status::failure(failed.code(), failed.message() +
                                                  " (the file system has no locks, so part of the "
                                                  "record may remain)");
    }
    // Take back whatever part of the record got in, so no later listing shows it torn.
    if (S_ISREG(before.st_mode)) {
        (void)::ftruncate(file.get(), before.st_size);
        (void)syncData(file.get());
    }
    return systemFailure(what, path, error);
}

// Line ends are always read as stored here: the platform's own are '\n'.
RecordReader::RecordReader(const std::string& path, LineEnds ends) : path_(path), ends_(ends) {
    // No controlling terminal from a device named datas.dat, even for the moment it is open.
    file_.reset(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (file_.get() < 0) {
        status_ = systemFailure("could not read", path_, errno);
        return;
    }
    struct stat info {};
    if (::fstat(file_.get(), &info) != 0) {
        status_ = systemFailure("could not read", path_, errno);
    } else if (S_ISDIR(info.st_mode)) {
        status_ = systemFailure("could not read", path_, EISDIR);
    } else if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        status_ =
            Status::failure(Status::Code::notRegularFile, "could not read", path_, "not a regular file");
    }
    if (!status_.isOk() || S_ISFIFO(info.st_mode)) {
        if (!status_.isOk()) {
            file_.reset();
        }
        return;
    }
    // Under the shared lock no append is half done: the size then ends on a whole record.
    const Lock lock = lockWholeFile(file_.get(), F_RDLCK);
    if (lock == Lock::failed || ::fstat(file_.get(), &info) != 0) {
        status_ = systemFailure("could not lock", path_, errno);
        file_.reset();
        return;
    }
    if (lock == Lock::held) {
        (void)lockWholeFile(file_.get(), F_UNLCK);
    }
    sized_ = true;
    remaining_ = static_cast<unsigned long long>(info.st_size);
}

RecordReader::~RecordReader() = default;

bool RecordReader::isSameFileAs(int descriptor) const {
    struct stat ours {};
    struct stat theirs {};
    return ::fstat(file_.get(), &ours) == 0 && ::fstat(descriptor, &theirs) == 0 && S_ISREG(ours.st_mode) &&
           ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
}

std::size_t RecordReader::read(char* buffer, std::size_t size) {
    if (sized_) {
        size = static_cast<std::size_t>(std::min<unsigned long long>(size, remaining_));
        if (size == 0) {
            return 0;
        }
    }
    for (;;) {
        const ssize_t got = ::read(file_.get(), buffer, size);
        if (got >= 0) {
            remaining_ -= sized_ ? static_cast<unsigned long long>(got) : 0;
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            status_ = systemFailure("could not read", path_, errno);
            return 0;
        }
    }
}

bool RecordReader::skip(unsigned long long bytes) {
    if (!sized_ || bytes > remaining_) {
        return false;
    }
    if (::lseek(file_.get(), static_cast<off_t>(bytes), SEEK_CUR) < 0) {
        status_ = systemFailure("could not read", path_, errno);
        return false;
    }
    remaining_ -= bytes;
    return true;
}

bool RecordReader::copyRestTo(int outputDescriptor, bool& endsWithNewline) {
    if (!sized_) {
        return false;
    }
    off_t offset = ::lseek(file_.get(), 0, SEEK_CUR);
    if (offset < 0) {
        return false;
    }
    const off_t end = offset + static_cast<off_t>(remaining_);
    endsWithNewline = true;
    if (offset < end) {
        char last = 0;
        if (::pread(file_.get(), &last, 1, end - 1) != 1) {
            return false;
        }
        endsWithNewline = last == '\n';
    }
#ifdef HAVE_SENDFILE
    bool first = true;
    while (offset < end) {
        constexpr off_t kChunk = off_t{1} << 30;
        const auto count = static_cast<std::size_t>(std::min(end - offset, kChunk));
        const ssize_t sent = ::sendfile(outputDescriptor, file_.get(), &offset, count);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (first && (errno == EINVAL || errno == ENOSYS)) {
                return false;  // this kind of output takes no kernel copies
            }
            status_ = systemFailure("could not list", path_, errno);
            break;
        }
        if (sent == 0) {
            break;  // the file shrank under us; what was there has been sent
        }
        first = false;
    }
#else
    // Without a kernel copy, a plain read and write loop through a buffer of our own.
    constexpr std::size_t kCopyChunk = std::size_t{128} * 1024;
    // NOLINTNEXTLINE(modernize-avoid-c-arrays): std::array would be zero-filled, or on the stack
    const auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunk);
    while (offset < end) {
        const auto count = static_cast<std::size_t>(std::min<off_t>(end - offset, kCopyChunk));
        const ssize_t got = ::pread(file_.get(), buffer.get(), count, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            status_ = systemFailure("could not read", path_, errno);
            break;
        }
        if (got == 0) {
            break;  // the file shrank under us; what was there has been copied
        }
        if (!writeAll(outputDescriptor, std::string_view(buffer.get(), static_cast<std::size_t>(got)))) {
            status_ = systemFailure("could not list", path_, errno);
            break;
        }
        offset += got;
    }
#endif
    remaining_ = static_cast<unsigned long long>(end - offset);
    (void)::lseek(file_.get(), offset, SEEK_SET);
    return true;
}

}  // namespace profiledesk
