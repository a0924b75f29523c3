#include "office/io/desk_file.hpp"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "store/line_ends.hpp"
#include "store/record_file.hpp"

namespace profiledesk::office {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1024} * 1024;

// Reads the file on a thread of its own, one buffer ahead of the scanner, so that copying
// the bytes in and reading the records back take a core each.
class ReadAhead {
public:
    explicit ReadAhead(RecordReader& reader) : reader_(reader), thread_([this] { fill(); }) {}
    ~ReadAhead() {
        {
            const std::scoped_lock lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ReadAhead(ReadAhead&&) = delete;
    ReadAhead& operator=(ReadAhead&&) = delete;

    // The next piece of the file, empty at its end; valid until the next call.
    std::string_view next() {
        std::unique_lock lock(mutex_);
        if (taken_) {
            slots_.at(current_).full = false;  // the scanner is done with the last piece
            current_ ^= 1U;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return slots_.at(current_).full; });
        taken_ = true;
        const Slot& slot = slots_.at(current_);
        return {slot.bytes->data(), slot.size};
    }

private:
    struct Slot {
        std::unique_ptr<std::array<char, kBufferSize>> bytes =
            std::make_unique_for_overwrite<std::array<char, kBufferSize>>();
        std::size_t size = 0;
        bool full = false;
    };

    void fill() {
        for (unsigned int filling = 0;; filling ^= 1U) {
            Slot& slot = slots_.at(filling);
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !slot.full; });
                if (stopping_) {
                    return;
                }
            }
            // The scanner never touches a slot that is not full, so this read needs no lock.
            const std::size_t got = reader_.read(slot.bytes->data(), kBufferSize);
            {
                const std::scoped_lock lock(mutex_);
                slot.size = got;
                slot.full = true;
            }
            changed_.notify_all();
            if (got == 0) {
                return;  // the end, or a failure the reader keeps
            }
        }
    }

    RecordReader& reader_;
    std::array<Slot, 2> slots_;
    unsigned int current_ = 0;
    bool taken_ = false;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;  // last: it starts once everything it uses is there
};

// The bytes of a record longer than this are not read back to tell it again: no record
// written by a desk is near it, so the stored place is taken as wrong.
constexpr std::uint64_t kLongestTail = std::uint64_t{16} << 20;

Status readFailure(const std::string& path, const RecordReader& reader) {
    return Status::failure(reader.status().code(), path + ": " + reader.status().reason());
}

// Whether the file holds, just before `place`, the record it held when the place was kept;
// the reader is then at the place.
bool holdsPlace(RecordReader& reader, const DeskFilePlace& place) {
    const std::uint64_t end = place.at.offset;
    if (place.tailLength == 0 || place.tailLength > end || place.tailLength > kLongestTail ||
        reader.remaining() < end || !reader.skip(end - place.tailLength)) {
        return false;
    }
    std::string tail(place.tailLength, '\0');
    for (std::size_t got = 0; got < tail.size();) {
        const std::size_t more = reader.read(tail.data() + got, tail.size() - got);
        if (more == 0) {
            return false;
        }
        got += more;
    }
    const LineEndsRead text = crlfToLf(tail.data(), tail.size(), true);
    return contentHash(std::string_view(tail.data(), text.kept)) == place.tail;
}

Status scanFrom(const std::string& path, RecordReader& reader, const ScanStart& start, ScanListener& listener,
                ScanCounts& counts, const ReadObserver& observer) {
    RecordScanner scanner(listener, start);
    {
        ReadAhead pieces(reader);
        for (std::string_view piece = pieces.next(); !piece.empty(); piece = pieces.next()) {
            scanner.feed(piece);
            if (observer) {
                observer(piece.size());
            }
        }
    }
    if (!reader.status().isOk()) {
        return readFailure(path, reader);
    }
    scanner.finish();
    counts.records = scanner.wholeRecords() - start.records;
    counts.problems = scanner.problems();
    return Status::ok();
}

}  // namespace

std::string contentHash(std::string_view text) {
    const XXH128_hash_t hash = XXH3_128bits(text.data(), text.size());
    std::array<char, 33> hex{};
    (void)std::snprintf(hex.data(), hex.size(), "%016llx%016llx",
                        static_cast<unsigned long long>(hash.high64),
                        static_cast<unsigned long long>(hash.low64));
    return {hex.data(), 32};
}

Status scanDeskFile(const std::string& path, ScanListener& listener, ScanCounts& counts,
                    const ReadObserver& observer) {
    // Shares the desk's own rules: only regular files and pipes, and a regular file only up to
    // the size it had under the desk's lock, so that a record being saved is not read half done.
    RecordReader reader(path);
    if (!reader.isOpen()) {
        return readFailure(path, reader);
    }
    return scanFrom(path, reader, ScanStart{}, listener, counts, observer);
}

Status resumeDeskFile(const std::string& path, const std::optional<DeskFilePlace>& place,
                      ScanListener& listener, ScanCounts& counts, const ReadObserver& observer, ReadFrom& how,
                      bool& sized) {
    // The file's own bytes, whatever its line ends: places count them.
    auto reader = std::make_unique<RecordReader>(path, RecordReader::LineEnds::asStored);
    if (!reader->isOpen()) {
        return readFailure(path, *reader);
    }
    sized = reader->sized();
    how = ReadFrom::start;
    if (place && sized) {
        if (holdsPlace(*reader, *place)) {
            how = ReadFrom::place;
            if (observer) {
                observer(static_cast<std::size_t>(place->at.offset));
            }
            return scanFrom(path, *reader, place->at, listener, counts, observer);
        }
        if (!reader->status().isOk()) {
            return readFailure(path, *reader);
        }
        how = ReadFrom::startChanged;
        reader = std::make_unique<RecordReader>(path, RecordReader::LineEnds::asStored);
        if (!reader->isOpen()) {
            return readFailure(path, *reader);
        }
    }
    return scanFrom(path, *reader, ScanStart{}, listener, counts, observer);
}

std::uint64_t totalSize(const std::vector<std::string>& files) {
    std::uint64_t total = 0;
    for (const std::string& path : files) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        total += error ? 0 : size;
    }
    return total;
}

bool isOneOf(const std::string& path, const std::vector<std::string>& files) {
    return std::any_of(files.begin(), files.end(), [&path](const std::string& file) {
        std::error_code error;
        return std::filesystem::equivalent(path, file, error);
    });
}

}  // namespace profiledesk::office
