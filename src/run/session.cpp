#include "run/session.hpp"

#include "guidance/guidance.hpp"
#include "notices/maker_details.hpp"

namespace profiledesk {

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
        case 1: runDataEntry(run); break;
        case 2: runListing(run); break;
        case 3: showGuidanceA(run.out); break;
        case 4: showGuidanceB(run); break;
        default: break;
    }
    out << " " << std::endl;
    out << " ........> Kindly Press Any Key To Continue <........ " << std::endl;
    waitForKey();
    if (!out) {
        run.err << "profiledesk: could not write to standard output" << std::endl;
        run.failed = true;
    }
    return run.failed ? 1 : 0;
}

}  // namespace profiledesk
