#include "run/session.hpp"

#include "common/output_watch.hpp"
#include "guidance/guidance.hpp"
#include "notices/maker_details.hpp"
#include "run/clock_line.hpp"

namespace profiledesk {

namespace {

// Options 1 and 2, from the main menu or after option 4's guidance.
void runFlow(RunContext& run, int option) {
    if (option == 1) {
        runDataEntry(run);
    } else if (option == 2) {
        runListing(run);
    }
}

}  // namespace

int runSession(RunContext& run, const std::function<void()>& waitForKey) {
    std::ostream& out = run.out;
    out << " " << std::endl;
    writeStartNotice(out, kMakerDetails);
    writeClockLine(out, run.clock);
    out << " " << std::endl;
    out << " --> Enter Requested Option |--| [ Any Option From 1 To 4 ] Option(Selection) Requested :: "
        << std::endl;
    int option = 0;  // a failed read leaves 0, which selects nothing
    run.in >> option;
    switch (option) {
        case 1:
        case 2: runFlow(run, option); break;
        case 3: showGuidanceA(out); break;
        case 4:
            runFlow(run, showGuidanceB(run.in, out));
            endGuidanceB(out);
            break;
        default: break;
    }
    out << " " << std::endl;
    out << " ........> Kindly Press Any Key To Continue <........ " << std::endl;
    if (!out) {
        run.failures.push_back(Status::failure(outputFailure(out)));
    }
    tellFailures(run);
    waitForKey();
    return run.failures.empty() ? 0 : 1;
}

}  // namespace profiledesk
