#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// Called after each piece read, with the number of bytes it held.
using ReadObserver = std::function<void(std::size_t)>;

// What one file held.
struct ScanCounts {
    std::size_t records = 0;   // whole records
    std::size_t problems = 0;  // stretches that are not
};

// The hash that names a record's content: XXH3-128 of its text, line ends as '\n', in
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
Status resumeDeskFile(const std::string& path, const std::optional<DeskFilePlace>& place,
                      ScanListener& listener, ScanCounts& counts, const ReadObserver& observer, ReadFrom& how,
                      bool& sized);

// Reads a desk's record file from start to end through a scanner, in a fixed buffer, and
// never writes to it. Only regular files and pipes are read: a device would never end.
// A failure's message names the file and the system's reason.
Status scanDeskFile(const std::string& path, ScanListener& listener, ScanCounts& counts,
                    const ReadObserver& observer = {});

// The bytes of all the files together, for progress; a file that cannot be sized counts 0.
std::uint64_t totalSize(const std::vector<std::string>& files);

// Whether `path` names one of `files` (the same file by another name included): an output
// there would change a desk's file.
bool isOneOf(const std::string& path, const std::vector<std::string>& files);

}  // namespace profiledesk::office
