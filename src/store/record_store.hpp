#pragma once

#include <ostream>
#include <string>

#include "notices/maker_details.hpp"
#include "record/candidate_record.hpp"
#include "run/clock.hpp"
#include "store/status.hpp"

namespace profiledesk {

// The record file's name, in the folder the program runs in.
inline constexpr const char* kRecordFileName = "datas.dat";

// The 30 lines one data entry adds to the record file, each ending in '\n'.
std::string formatRecord(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker);

// Appends one record to the file, whole or not at all.
Status saveRecord(const std::string& path, const CandidateRecord& record, const ClockSnapshot& clock,
                  const MakerDetails& maker);

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
