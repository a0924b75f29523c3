#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "common/status.hpp"
#include "record/candidate_record.hpp"
#include "record/clock_snapshot.hpp"

namespace profiledesk {

// Everything one run touches outside itself. Only the entry point fills it with the real
// console, clock and folder; tests hand in streams and a file of their own.
struct RunContext {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    ClockSnapshot clock;
    std::string recordFile;
    int outputDescriptor = -1;  // the descriptor behind `out`, if there is one
    bool outputIsTerminal = false;
    CandidateRecord record;              // the run's one record, filled by data entry
    std::vector<Status> failures{};      // what the user relies on that did not happen: exit status 1
    std::vector<std::string> notices{};  // worth a word on the error stream, but no failure
};

// Asks the questions, shows the report and saves the record (option 1).
void runDataEntry(RunContext& run);

// Shows every line of the record file (option 2).
void runListing(RunContext& run);

// Tells each notice, then each failure, on the error stream, one line each, after the run's
// last line of output so that no message runs into the text of the run.
void tellFailures(const RunContext& run);

}  // namespace profiledesk
