#pragma once

// The record file as the platform gives it: locking, durable appends, reading. One source
// file per platform implements this header, so nothing else in the program needs to know
// which platform it runs on.

#include <cstddef>
#include <string>
#include <string_view>

#include "store/status.hpp"

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
// back to its size before), and reaches stable storage before this returns.
Status appendWhole(const std::string& path, std::string_view bytes);

// The record file opened for reading, under a shared lock for as long as it is open, so
// that no append is ever seen half done.
class RecordReader {
public:
    explicit RecordReader(const std::string& path);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    [[nodiscard]] bool isOpen() const { return file_.get() >= 0; }
    [[nodiscard]] bool notFound() const { return notFound_; }
    // Why opening or the last read failed; ok while all is well.
    [[nodiscard]] const Status& status() const { return status_; }

    // True when `descriptor` is this very file: listing into it would never end.
    [[nodiscard]] bool isSameFileAs(int descriptor) const;

    // Reads up to `size` bytes, with the platform's line ends read back as '\n'. Returns 0 at
    // the end of the file or on failure (see status()).
    std::size_t read(char* buffer, std::size_t size);

    // Where the platform can, copies the rest of the file to `outputDescriptor` inside the
    // kernel. Returns false, having copied nothing, where it cannot; then use read().
    // On success `endsWithNewline` tells whether the last byte copied was '\n' (true for an
    // empty rest).
    bool copyRestTo(int outputDescriptor, bool& endsWithNewline);

private:
    Descriptor file_;
    bool notFound_ = false;
    std::string path_;
    Status status_ = Status::ok();
};

}  // namespace profiledesk
