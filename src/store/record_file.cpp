// The record file's rules, the same on every platform: how an append stays whole and durable,
// and how a reader learns the size it may read up to. Only the platform's file primitives
// differ, behind FilePrimitives.

#include "store/record_file.hpp"

#include <algorithm>
#include <string>

#include "store/line_ends.hpp"

namespace profiledesk {

namespace {

constexpr const char* kCouldNotSave = "could not save the record to";
constexpr const char* kCouldNotRead = "could not read";

Status failure(const std::string& what, const std::string& path, const SystemError& error) {
    return Status::failure(error.code, what, path, error.reason);
}

SystemError writeAll(FilePrimitives& files, int handle, std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t written = 0;
        if (SystemError error = files.write(handle, bytes, written); error.failed()) {
            return error;
        }
        bytes.remove_prefix(written);
    }
    return {};
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

// Opens the record file for appending, making it where there is none. Another desk may make
// it between our open and our make, and then the second open finds it; a name that neither
// opens nor can be made is a symbolic link to nothing, refused rather than tried for ever.
SystemError openOrCreate(FilePrimitives& files, const std::string& path, int& handle, bool& created) {
    created = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (SystemError opened = files.openForAppend(path, handle); opened.code != Status::Code::notFound) {
            return opened;
        }
        SystemError made = files.createForAppend(path, handle);
        if (made.code != Status::Code::conflict) {
            created = !made.failed();
            return made;
        }
    }
    return SystemError{Status::Code::notFound, "a symbolic link to a missing file"};
}

}  // namespace

Status appendWhole(const std::string& path, std::string_view bytes, FilePrimitives& files) {
    int handle = -1;
    bool created = false;
    if (const SystemError error = openOrCreate(files, path, handle, created); error.failed()) {
        return failure(kCouldNotSave, path, error);
    }
    const OpenFile file(files, handle);
    // A device or a FIFO would take the record and keep nothing (/dev/null), or never end.
    FileInfo opened;
    if (const SystemError error = files.describe(handle, opened); error.failed()) {
        return failure(kCouldNotSave, path, error);
    }
    if (opened.kind != FileKind::regular) {
        return Status::failure(Status::Code::notRegularFile, kCouldNotSave, path,
                               opened.kind == FileKind::folder ? "Is a directory" : "not a regular file");
    }
    if (created) {
        if (const SystemError error = files.syncFolderOf(path); error.failed()) {
            return failure(kCouldNotSave, path, error);
        }
    }
    bool locked = false;
    if (const SystemError error = files.lock(handle, true, locked); error.failed()) {
        return failure(kCouldNotSave, path, error);
    }
    FileInfo before;
    SystemError error = files.describe(handle, before);
    if (!error.failed()) {
        // One write carries the whole record, its line ends included.
        error =
            files.storesCrlf() ? writeAll(files, handle, withCrlf(bytes)) : writeAll(files, handle, bytes);
    }
    if (!error.failed()) {
        error = files.syncData(handle);
    }
    if (error.failed() && !locked) {
        // Unlocked, another desk may have appended after our part: cutting back would take theirs.
        return Status::failure(
            error.code, kCouldNotSave, path,
            error.reason + " (the file system has no locks, so part of the record may remain)");
    }
    if (error.failed() && before.kind == FileKind::regular) {
        // Take back whatever part of the record got in, so no later listing shows it torn.
        (void)files.truncate(handle, before.size);
        (void)files.syncData(handle);
    }
    // Closing would drop the lock too, but Windows may take its time to do so.
    if (locked) {
        files.unlock(handle);
    }
    return error.failed() ? failure(kCouldNotSave, path, error) : Status::ok();
}

RecordReader::RecordReader(const std::string& path, FilePrimitives& files, LineEnds ends, Takes takes)
    : files_(files), file_(files), path_(path), ends_(ends) {
    int handle = -1;
    if (const SystemError error = files_.openForRead(path, handle, takes == Takes::fileOrFifo);
        error.failed()) {
        status_ = failure(kCouldNotRead, path_, error);
        return;
    }
    file_.reset(handle);
    FileInfo info;
    if (const SystemError error = files_.describe(handle, info); error.failed()) {
        status_ = failure(kCouldNotRead, path_, error);
    } else if (info.kind == FileKind::folder) {
        status_ = Status::failure(Status::Code::notRegularFile, kCouldNotRead, path_, "Is a directory");
    } else if (info.kind == FileKind::other ||
               (info.kind == FileKind::fifo && takes == Takes::regularFileOnly)) {
        // A device reads on for ever; a pipe (a FIFO) ends when its writer does.
        status_ = Status::failure(Status::Code::notRegularFile, kCouldNotRead, path_, "not a regular file");
    }
    if (!status_.isOk()) {
        file_.reset();
        return;
    }
    if (info.kind == FileKind::fifo) {
        return;
    }
    // Under the shared lock no append is half done: the size then ends on a whole record.
    bool locked = false;
    if (const SystemError error = files_.lock(handle, false, locked); error.failed()) {
        status_ = failure("could not lock", path_, error);
        file_.reset();
        return;
    }
    const SystemError sizing = files_.describe(handle, info);
    if (locked) {
        files_.unlock(handle);
    }
    if (sizing.failed()) {
        status_ = failure(kCouldNotRead, path_, sizing);
        file_.reset();
        return;
    }
    sized_ = true;
    remaining_ = info.size;
}

RecordReader::~RecordReader() = default;

bool RecordReader::isSameFileAs(int descriptor) const { return files_.isSameFile(file_.get(), descriptor); }

std::size_t RecordReader::read(char* buffer, std::size_t size) {
    if (sized_) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, remaining_));
        if (size == 0) {
            return 0;
        }
    }
    std::size_t got = 0;
    if (const SystemError error = files_.read(file_.get(), buffer, size, got); error.failed()) {
        status_ = failure(kCouldNotRead, path_, error);
        return 0;
    }
    std::size_t consumed = got;
    std::size_t kept = got;
    if (files_.storesCrlf() && ends_ == LineEnds::asText) {
        // Binary reads with CRLF turned into '\n' here: a text-mode read would also end the
        // file at the first Ctrl+Z, hiding every record stored after one.
        const LineEndsRead converted = crlfToLf(buffer, got, !sized_ || got == remaining_);
        consumed = converted.consumed;
        kept = converted.kept;
        std::uint64_t at = 0;
        if (consumed < got && !files_.position(file_.get(), at).failed()) {
            (void)files_.seek(file_.get(), at - (got - consumed));
        }
    }
    remaining_ -= sized_ ? consumed : 0;
    return kept;
}

bool RecordReader::skip(std::uint64_t bytes) {
    std::uint64_t at = 0;
    if (!sized_ || bytes > remaining_) {
        return false;
    }
    SystemError error = files_.position(file_.get(), at);
    if (!error.failed()) {
        error = files_.seek(file_.get(), at + bytes);
    }
    if (error.failed()) {
        status_ = failure(kCouldNotRead, path_, error);
        return false;
    }
    remaining_ -= bytes;
    return true;
}

bool RecordReader::copyRestTo(int outputDescriptor, bool& endsWithNewline, std::string& writeFailure) {
    std::uint64_t offset = 0;
    if (!sized_ || !files_.copiesToDescriptors() || files_.position(file_.get(), offset).failed()) {
        return false;
    }
    const std::uint64_t end = offset + remaining_;
    endsWithNewline = true;
    if (offset < end) {
        char last = 0;
        std::size_t got = 0;
        const bool gotLast = !files_.seek(file_.get(), end - 1).failed() &&
                             !files_.read(file_.get(), &last, 1, got).failed() && got == 1;
        if (files_.seek(file_.get(), offset).failed() || !gotLast) {
            return false;
        }
        endsWithNewline = last == '\n';
    }
    bool first = true;
    while (offset < end) {
        constexpr std::uint64_t kChunk = std::uint64_t{1} << 30;
        const auto count = static_cast<std::size_t>(std::min(end - offset, kChunk));
        std::size_t copied = 0;
        SystemError error;
        const CopyOutcome outcome = files_.copy(file_.get(), outputDescriptor, offset, count, copied, error);
        if (outcome == CopyOutcome::unsupported && first) {
            return false;  // this kind of output takes no such copies
        }
        if (outcome == CopyOutcome::writeFailed) {
            writeFailure = error.reason;
            break;
        }
        if (outcome != CopyOutcome::copied) {
            status_ = failure(kCouldNotRead, path_, error);
            break;
        }
        if (copied == 0) {
            break;  // the file shrank under us; what was there has been copied
        }
        offset += copied;
        first = false;
    }
    remaining_ = end - offset;
    (void)files_.seek(file_.get(), offset);
    return true;
}

}  // namespace profiledesk
