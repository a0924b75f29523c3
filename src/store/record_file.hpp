#pragma once

// The record file as the platform gives it: locking, durable appends, reading. One source
// file per platform implements this header, so nothing else in the program needs to know
// which platform it runs on.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/status.hpp"

namespace profiledesk {

// Owns a file descriptor and closes it on every way out; closing also drops its locks.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return fd_; }
    // Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Appends `bytes` (lines ending in '\n') to the file at `path`, creating it if needed.
// The append holds an exclusive lock, is all or nothing (a failure part-way cuts the file
// back to its size before), and reaches stable storage before this returns, the name of a
// file it created included. Where the file system has no locks the append goes ahead
// unlocked, and a failure then cuts nothing: bytes after ours may be another desk's.
Status appendWhole(const std::string& path, std::string_view bytes);

// The record file opened for reading. It is locked only long enough to learn its size, and
// reads stop there: appends only add whole records past that point, so a listing never sees
// half of one, and a slow reader of the listing never keeps a desk from saving.
class RecordReader {
public:
    // How line ends are read back: as '\n' whatever the platform stores, or as they are in
    // the file (for a reader that counts the file's own bytes).
    enum class LineEnds : unsigned char { asText, asStored };

    explicit RecordReader(const std::string& path, LineEnds ends = LineEnds::asText);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    [[nodiscard]] bool isOpen() const { return file_.get() >= 0; }
    // Why opening or the last read failed; ok while all is well. A device or a folder is
    // refused on opening, as Code::notRegularFile: a listing of /dev/zero would never end.
    [[nodiscard]] const Status& status() const { return status_; }

    // True when `descriptor` is this very file: listing into it would never end.
    [[nodiscard]] bool isSameFileAs(int descriptor) const;

    // Reads up to `size` bytes, with the platform's line ends read back as '\n'. Returns 0 at
    // the end of the file or on failure (see status()).
    std::size_t read(char* buffer, std::size_t size);

    // The bytes of a regular file not yet read, up to the size it had when opened; false for
    // a pipe, which has no size.
    [[nodiscard]] bool sized() const { return sized_; }
    [[nodiscard]] unsigned long long remaining() const { return remaining_; }
    // Moves past `bytes` of a regular file without reading them; false, having moved
    // nothing, for a pipe, past the size, or on failure (see status()).
    bool skip(unsigned long long bytes);

    // Copies the rest of the file to `outputDescriptor` (inside the kernel where the platform
    // can). Returns false, having copied nothing, where this kind of output takes no such
    // copy; then use read(). On success `endsWithNewline` tells whether the last byte copied
    // was '\n' (true for an empty rest). A failed write ends the copy (see status()).
    bool copyRestTo(int outputDescriptor, bool& endsWithNewline);

private:
    Descriptor file_;
    std::string path_;
    Status status_ = Status::ok();
    // A regular file is read up to the size it had under the lock; a FIFO to its end.
    bool sized_ = false;
    unsigned long long remaining_ = 0;
    [[maybe_unused]] LineEnds ends_ = LineEnds::asText;  // read only where line ends are not '\n'
};

}  // namespace profiledesk
