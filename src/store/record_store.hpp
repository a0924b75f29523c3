#pragma once

#include <ostream>
#include <string>

#include "common/status.hpp"

namespace profiledesk {

// The record file's name, in the folder the program runs in.
inline constexpr const char* kRecordFileName = "datas.dat";

// Where a listing goes. `out` takes the text; when `descriptor` is the real descriptor behind
// `out`, a listing may be copied to it directly inside the kernel.
struct ListingTarget {
    std::ostream& out;
    int descriptor = -1;
    bool isTerminal = false;  // shows control characters as ^X, so stored text cannot drive it
};

// Prints every line of the record file, or says the file cannot be opened.
Status listRecords(const std::string& path, const ListingTarget& target);

}  // namespace profiledesk
