#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/status.hpp"
#include "office/io/desk_input.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// Called after each piece read, with the number of bytes it held.
using ReadObserver = std::function<void(std::size_t)>;

// What one file held.
struct ScanCounts {
    std::size_t records = 0;   // whole records
    std::size_t problems = 0;  // stretches that are not
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

// Reads a desk's record file from start to end through a scanner, in a fixed buffer, and
// never writes to it; a listener that stops the scan ends the reading there. Only regular
// files and pipes are read: a device would never end. A failure's message names the file
// and the system's reason. A line longer than `maxLineBytes` is told as a problem and
// skipped, never held whole.
Status scanDeskFile(const DeskInput& desk, DeskListener& listener, ScanCounts& counts,
                    std::size_t maxLineBytes, const ReadObserver& observer = {});

// The bytes of all the files together, for progress; a file that cannot be sized counts 0.
std::uint64_t totalSize(const std::vector<DeskInput>& desks);

// Whether `path` names one of `files` (the same file by another name included): an output
// there would change a desk's file.
bool isOneOf(const std::string& path, const std::vector<DeskInput>& desks);

}  // namespace profiledesk::office
