#pragma once

// The record file's seam: the few file operations the platform gives, and nothing more. Each
// platform's source file implements them with its own system calls and maps the system's
// errors; how they combine into a whole append or a sized read is written once, in
// record_file.cpp, and runs the same on every platform (and against a fake in the tests).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/status.hpp"

namespace profiledesk {

// What a failed system call said: the kind of failure and the system's own words.
struct SystemError {
    Status::Code code = Status::Code::ok;
    std::string reason;

    [[nodiscard]] bool failed() const { return code != Status::Code::ok; }
};

enum class FileKind { regular, fifo, folder, other };

struct FileInfo {
    FileKind kind = FileKind::other;
    std::uint64_t size = 0;
};

enum class CopyOutcome { copied, unsupported, readFailed, writeFailed };

class FilePrimitives {
public:
    FilePrimitives() = default;
    virtual ~FilePrimitives() = default;
    FilePrimitives(const FilePrimitives&) = delete;
    FilePrimitives& operator=(const FilePrimitives&) = delete;
    FilePrimitives(FilePrimitives&&) = delete;
    FilePrimitives& operator=(FilePrimitives&&) = delete;

    // Opens the file that is there for appending, never waiting on a FIFO that nobody reads
    // (refused as Code::notRegularFile); Code::notFound where nothing of that name leads to one.
    virtual SystemError openForAppend(const std::string& path, int& handle) = 0;
    // Makes the file, for appending, where nothing has its name yet, so that every desk sharing
    // its folder may append; Code::conflict where something has, a symbolic link to nothing too.
    virtual SystemError createForAppend(const std::string& path, int& handle) = 0;
    // Opens for reading; a FIFO at once, without waiting for a writer, unless `waitForWriter`.
    virtual SystemError openForRead(const std::string& path, int& handle, bool waitForWriter) = 0;
    virtual void close(int handle) = 0;
    virtual SystemError describe(int handle, FileInfo& info) = 0;
    // Waits for a lock on the whole file; `supported` is false, with no error, where the file
    // system has no locks at all.
    virtual SystemError lock(int handle, bool exclusive, bool& supported) = 0;
    virtual void unlock(int handle) = 0;
    // One write or read; `done` may be short of what was asked.
    virtual SystemError write(int handle, std::string_view bytes, std::size_t& done) = 0;
    virtual SystemError read(int handle, char* buffer, std::size_t size, std::size_t& done) = 0;
    virtual SystemError position(int handle, std::uint64_t& offset) = 0;
    virtual SystemError seek(int handle, std::uint64_t offset) = 0;
    // The file's bytes and what is needed to read them back down to stable storage.
    virtual SystemError syncData(int handle) = 0;
    virtual SystemError truncate(int handle, std::uint64_t size) = 0;
    // Syncs the folder that holds a new file's name, which a crash could lose otherwise.
    virtual SystemError syncFolderOf(const std::string& path) = 0;
    virtual bool isSameFile(int handle, int descriptor) = 0;

    // Whether records are stored with CRLF line ends, written and read back as '\n' by us.
    [[nodiscard]] virtual bool storesCrlf() const = 0;
    // Whether copy() can send bytes to another descriptor without passing them through us.
    [[nodiscard]] virtual bool copiesToDescriptors() const = 0;
    // Copies up to `count` bytes from `offset` to `descriptor`; `done` says how many got there.
    virtual CopyOutcome copy(int handle, int descriptor, std::uint64_t offset, std::size_t count,
                             std::size_t& done, SystemError& error) = 0;
};

// The running platform's primitives.
FilePrimitives& platformFiles();

// A handle the primitives opened, closed by them on every way out; closing drops its locks.
class OpenFile {
public:
    explicit OpenFile(FilePrimitives& files, int handle = -1) : files_(&files), handle_(handle) {}
    ~OpenFile() { reset(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    OpenFile(OpenFile&&) = delete;
    OpenFile& operator=(OpenFile&&) = delete;

    [[nodiscard]] int get() const { return handle_; }
    // Closes the handle held, if any, and holds `handle` instead.
    void reset(int handle = -1) {
        if (handle_ >= 0) {
            files_->close(handle_);
        }
        handle_ = handle;
    }

private:
    FilePrimitives* files_;
    int handle_;
};

}  // namespace profiledesk
