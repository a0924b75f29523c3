#pragma once

#include <string>

#include "notices/maker_details.hpp"
#include "record/candidate_record.hpp"
#include "record/clock_snapshot.hpp"
#include "record/record_layout.hpp"

namespace profiledesk {

// The values one data entry writes: its answers and figures, when it was entered, and the
// maker's details.
FieldValues recordValues(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker);

// The 30 lines one data entry adds to the record file, each ending in '\n'.
std::string formatRecord(const CandidateRecord& record, const ClockSnapshot& clock,
                         const MakerDetails& maker);

}  // namespace profiledesk
