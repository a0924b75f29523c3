#pragma once

// The record file: locked, durable appends and sized reads. Written once over the
// platform's file primitives, so nothing else in the program needs to know which platform
// it runs on.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/status.hpp"
#include "store/file_primitives.hpp"

namespace profiledesk {

// Appends `bytes` (lines ending in '\n') to the file at `path`, creating it if needed.
// The append holds an exclusive lock, is all or nothing (a failure part-way cuts the file
// back to its size before), and reaches stable storage before this returns, the name of a
// file it created included. Where the file system has no locks the append goes ahead
// unlocked, and a failure then cuts nothing: bytes after ours may be another desk's.
Status appendWhole(const std::string& path, std::string_view bytes, FilePrimitives& files = platformFiles());

// The record file opened for reading. It is locked only long enough to learn its size, and
// reads stop there: appends only add whole records past that point, so a listing never sees
// half of one, and a slow reader of the listing never keeps a desk from saving.
class RecordReader {
public:
    // How line ends are read back: as '\n' whatever the platform stores, or as they are in
    // the file (for a reader that counts the file's own bytes).
    enum class LineEnds : unsigned char { asText, asStored };
    // What is read: a regular file or a FIFO, waiting for the FIFO's writer as any program
    // does; or a regular file alone, anything else refused without waiting.
    enum class Takes : unsigned char { fileOrFifo, regularFileOnly };

    explicit RecordReader(const std::string& path, FilePrimitives& files = platformFiles(),
                          LineEnds ends = LineEnds::asText, Takes takes = Takes::fileOrFifo);
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
    [[nodiscard]] std::uint64_t remaining() const { return remaining_; }
    // Moves past `bytes` of a regular file without reading them; false, having moved
    // nothing, for a pipe, past the size, or on failure (see status()).
    bool skip(std::uint64_t bytes);

    // Copies the rest of the file to `outputDescriptor` (inside the kernel where the platform
    // can). Returns false, having copied nothing, where this kind of output takes no such
    // copy; then use read(). On success `endsWithNewline` tells whether the last byte copied
    // was '\n' (true for an empty rest). A failed read ends the copy (see status()); so does a
    // failed write, the output's fault and not the file's, whose reason is `writeFailure`.
    bool copyRestTo(int outputDescriptor, bool& endsWithNewline, std::string& writeFailure);

private:
    FilePrimitives& files_;
    OpenFile file_;
    std::string path_;
    Status status_ = Status::ok();
    // A regular file is read up to the size it had under the lock; a FIFO to its end.
    bool sized_ = false;
    std::uint64_t remaining_ = 0;
    LineEnds ends_ = LineEnds::asText;
};

// Creates an empty file at `path`, which must not exist yet: readable by its owner alone when
// `privately`, else with mode 0666 less the umask. A failure gives the system's reason.
Status createEmpty(const std::string& path, bool privately);

// Puts the file at `partial` in the place of `target`, in the same folder, durably: its bytes
// reach the disk before the rename, and the folder after it. Where `target` exists, the file
// first takes its mode, and its owner and group where the user may give them.
Status replaceDurably(const std::string& partial, const std::string& target);

}  // namespace profiledesk
