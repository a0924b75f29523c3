// The record file on POSIX systems: fcntl record locks (which also hold on network
// shares), O_APPEND writes, fdatasync, and sendfile for the listing.

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "store/record_file.hpp"

namespace profiledesk {

void Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        (void)::close(fd_);
    }
    fd_ = fd;
}

namespace {

Status systemFailure(const std::string& what, const std::string& path, int error) {
    return Status::failure(what + " '" + path + "': " + std::strerror(error));
}

// Waits for a lock on the whole file; `type` is F_RDLCK or F_WRLCK.
bool lockWholeFile(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end of the file, however far it grows
    while (::fcntl(fd, F_SETLKW, &lock) == -1) {
        if (errno == ENOLCK || errno == ENOTSUP) {
            return true;  // a file system without locks: the record is still kept, one write whole
        }
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
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

// Devices and pipes cannot be synced; for them the write itself is all there is.
bool syncData(int fd) {
    if (::fdatasync(fd) == 0) {
        return true;
    }
    return errno == EINVAL || errno == EROFS || errno == ENOTSUP;
}

}  // namespace

Status appendWhole(const std::string& path, std::string_view bytes) {
    const std::string what = "could not save the record to";
    const Descriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        return systemFailure(what, path, errno);
    }
    if (!lockWholeFile(file.get(), F_WRLCK)) {
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
    // Take back whatever part of the record got in, so no later listing shows it torn.
    if (S_ISREG(before.st_mode)) {
        (void)::ftruncate(file.get(), before.st_size);
        (void)::fdatasync(file.get());
    }
    return systemFailure(what, path, error);
}

RecordReader::RecordReader(const std::string& path) : path_(path) {
    file_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file_.get() < 0) {
        notFound_ = errno == ENOENT;
        status_ = systemFailure("could not read", path_, errno);
        return;
    }
    if (!lockWholeFile(file_.get(), F_RDLCK)) {
        status_ = systemFailure("could not lock", path_, errno);
        file_.reset();
    }
}

RecordReader::~RecordReader() = default;

bool RecordReader::isSameFileAs(int descriptor) const {
    struct stat ours {};
    struct stat theirs {};
    return ::fstat(file_.get(), &ours) == 0 && ::fstat(descriptor, &theirs) == 0 && S_ISREG(ours.st_mode) &&
           ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino;
}

std::size_t RecordReader::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(file_.get(), buffer, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            status_ = systemFailure("could not read", path_, errno);
            return 0;
        }
    }
}

bool RecordReader::copyRestTo(int outputDescriptor, bool& endsWithNewline) {
    struct stat info {};
    if (::fstat(file_.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    off_t offset = ::lseek(file_.get(), 0, SEEK_CUR);
    if (offset < 0) {
        return false;
    }
    const off_t end = info.st_size;  // the shared lock keeps appends out while we copy
    endsWithNewline = true;
    if (offset < end) {
        char last = 0;
        if (::pread(file_.get(), &last, 1, end - 1) != 1) {
            return false;
        }
        endsWithNewline = last == '\n';
    }
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
            return true;
        }
        if (sent == 0) {
            break;  // the file shrank under us; what was there has been sent
        }
        first = false;
    }
    (void)::lseek(file_.get(), offset, SEEK_SET);
    return true;
}

}  // namespace profiledesk
