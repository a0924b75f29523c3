#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "record/record_scanner.hpp"
#include "store/status.hpp"

namespace profiledesk::office {

// Called after each piece read, with the number of bytes it held.
using ReadObserver = std::function<void(std::size_t)>;

// What one file held.
struct ScanCounts {
    std::size_t records = 0;   // whole records
    std::size_t problems = 0;  // stretches that are not
};

// Reads a desk's record file from start to end through a scanner, in a fixed buffer, and
// never writes to it. Only regular files and pipes are read: a device would never end.
// A failure's message names the file and the system's reason.
Status scanDeskFile(const std::string& path, ScanListener& listener, ScanCounts& counts,
                    const ReadObserver& observer = {});

}  // namespace profiledesk::office
