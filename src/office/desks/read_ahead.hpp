#pragma once

// The thread that reads a desk's file ahead of the scanner, and finds the whole records in
// what it read.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "record/record_scanner.hpp"
#include "store/record_file.hpp"

namespace profiledesk::office {

// Reads, not a mapping: mapped, 1 GiB in the page cache was checked no faster, and a disk
// or share that fails under a mapping kills the program with SIGBUS, where a read's failure
// is told with its reason. Of 128 KiB to 1 MiB pieces read ahead, 512 KiB measured fastest;
// reading on the scanning thread was slower (0.57 s against 0.27 s for 1 GiB).
inline constexpr std::size_t kReadAheadPiece = std::size_t{512} * 1024;

// What the reading thread hands on: a piece of the file, and the records it found whole there.
struct ReadPiece {
    std::string_view bytes;  // empty at the end of the file
    std::span<const FoundRecord> found;
};

// Reads the file on a thread of its own, up to two pieces ahead of the scanner, so that copying
// the bytes in and reading the records back take a core each. Copying takes less time than
// reading the records back, so that thread also finds the whole records in the later part of
// each piece, and the scanner takes them as found. How much it takes on follows which of the
// two waited for the other last.
class ReadAhead {
public:
    // The reader is the thread's until this is destroyed: its status is then the read's.
    ReadAhead(RecordReader& reader, std::size_t maxLineBytes);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ReadAhead(ReadAhead&&) = delete;
    ReadAhead& operator=(ReadAhead&&) = delete;

    // The next piece of the file; valid until the next call.
    ReadPiece next();

private:
    // A piece's buffer starts on a page, as the page cache's bytes do: the kernel copied into a
    // buffer that did not (16 bytes past a page, as a large allocation is) three times as slowly.
    struct alignas(4096) PieceBuffer {
        std::array<char, kReadAheadPiece> bytes;
    };

    struct Slot {
        std::unique_ptr<PieceBuffer> buffer = std::make_unique_for_overwrite<PieceBuffer>();
        std::size_t size = 0;
        std::vector<FoundRecord> found;
        bool full = false;
    };

    // The part of each piece, in sixteenths from its start, from which this thread finds records.
    static constexpr std::size_t kParts = 16;
    // Two pieces ahead rather than one, so that neither thread waits on a piece the other is
    // still busy with: `check` of 1 GiB took 0.27 s so, against 0.35 s with one.
    static constexpr unsigned int kSlots = 3;

    void fill();

    RecordReader& reader_;
    std::size_t maxLineBytes_;
    RecordLineMatcher lines_;  // this thread's own
    std::array<Slot, kSlots> slots_;
    unsigned int current_ = 0;
    bool taken_ = false;
    bool stopping_ = false;
    bool scannerWaited_ = false;  // for the piece it took last
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;  // last: it starts once everything it uses is there
};

}  // namespace profiledesk::office
