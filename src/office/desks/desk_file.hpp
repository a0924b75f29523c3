#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"
#include "office/desks/desk_input.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// Called after each piece read, with the number of bytes it held.
using ReadObserver = std::function<void(std::size_t)>;

// What one file held.
struct ScanCounts {
    std::size_t records = 0;   // whole records
    std::size_t problems = 0;  // stretches that are not
    bool skipped = false;      // a pattern's match that is no regular file: told, and not read
};

// Receives what a desk's file holds, in file order, its answers turned into UTF-8.
class DeskListener {
public:
    DeskListener() = default;
    virtual ~DeskListener() = default;
    DeskListener(const DeskListener&) = delete;
    DeskListener& operator=(const DeskListener&) = delete;
    DeskListener(DeskListener&&) = delete;
    DeskListener& operator=(DeskListener&&) = delete;

    // `stored` is the record's bytes as the file holds them (line ends made LF), whatever
    // the encoding: what identifies it. Returns whether to read on.
    virtual bool onRecord(const StoredRecord& record, std::string_view stored) = 0;
    virtual void onProblem(const ScanProblem& problem) = 0;
    // Bytes not valid in the desk's encoding, stored as U+FFFD: each line where they stand,
    // or, when the encoding was not named, the file once. The records are still whole, so
    // this is told as a problem is but changes no exit status.
    virtual void onNote(const ScanProblem& note) { onProblem(note); }
};

// The hash that names a record's content: XXH3-128 of its bytes as stored, line ends as '\n', in
// 32 hexadecimal digits.
std::string contentHash(std::string_view text);

// A place in a desk file just after a whole record, and that record's length and content
// hash, by which the file is known again.
struct DeskFilePlace {
    ScanStart at;
    std::uint64_t tailLength = 0;  // the bytes of the record that ends there, as stored
    std::string tail;              // its contentHash()
};

// How resumeDeskFile() read the file.
enum class ReadFrom : unsigned char {
    start,         // from its start: no place was given, or the file is a pipe
    place,         // only what follows the place
    startChanged,  // from its start: the file no longer holds that record there
};

// Reads a desk's record file from `place` where the file still holds the same record just
// before it, otherwise from its start. Only the bytes of that record are read to tell: a
// quick check, where re-reading the whole history (over a network share) would cost as
// much as the collate itself. `sized` is false for a pipe, which has no places. The counts
// are of what was read.
Status resumeDeskFile(const DeskInput& desk, const std::optional<DeskFilePlace>& place,
                      DeskListener& listener, ScanCounts& counts, std::size_t maxLineBytes,
                      const ReadObserver& observer, ReadFrom& how, bool& sized);

// Reads a desk's record file from start to end through a scanner, in a fixed buffer, and
// never writes to it; a listener that stops the scan ends the reading there. Only regular
// files and pipes are read: a device would never end. A pattern's match that is not a
// regular file (a FIFO, which could stall the run for ever) is told as a note and skipped.
// A failure's message names the file and the system's reason. A line longer than `maxLineBytes` is told as a
// problem and skipped, never held whole.
Status scanDeskFile(const DeskInput& desk, DeskListener& listener, ScanCounts& counts,
                    std::size_t maxLineBytes, const ReadObserver& observer = {});

// The bytes of all the files together, for progress; a file that cannot be sized counts 0.
std::uint64_t totalSize(const std::vector<DeskInput>& desks);

// Whether `path` names one of `files` (the same file by another name included): an output
// there would change a desk's file.
bool isOneOf(const std::string& path, const std::vector<DeskInput>& desks);

// The desk whose desks file's path (a pattern) names `path`, though nothing may be there yet:
// an output there would be read as that desk's file another day. None: nullptr.
const DeskInput* namedByPattern(const std::string& path, const std::vector<DeskInput>& desks);

}  // namespace profiledesk::office
