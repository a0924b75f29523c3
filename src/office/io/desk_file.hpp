#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
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

// Reads a desk's record file from start to end through a scanner, in a fixed buffer, and
// never writes to it; a listener that stops the scan ends the reading there. Only regular
// files and pipes are read: a device would never end. A failure's message names the file
// and the system's reason.
Status scanDeskFile(const std::string& path, ScanListener& listener, ScanCounts& counts,
                    const ReadObserver& observer = {});

// The bytes of all the files together, for progress; a file that cannot be sized counts 0.
std::uint64_t totalSize(const std::vector<std::string>& files);

// Whether `path` names one of `files` (the same file by another name included): an output
// there would change a desk's file.
bool isOneOf(const std::string& path, const std::vector<std::string>& files);

}  // namespace profiledesk::office
