#include "run/flows.hpp"

#include <string>

#include "notices/maker_details.hpp"
#include "record/record_format.hpp"
#include "store/record_file.hpp"
#include "store/record_store.hpp"

namespace profiledesk {

namespace {

void keepFailure(RunContext& run, const Status& status) {
    if (!status.isOk()) {
        run.failures.push_back(status);
    }
}

}  // namespace

void runDataEntry(RunContext& run) {
    const int answered = enterRecord(run.in, run.out, run.record);
    writeEntryReport(run.out, run.record);
    const Status saved = appendWhole(run.recordFile, formatRecord(run.record, run.clock, kMakerDetails));
    // Only where the input ended: after a number that is not one the desk reads no further,
    // as documented, and cannot know what was typed after it.
    if (answered < kAnswerCount && run.in.eof()) {
        run.notices.push_back("the answers ended after " + std::to_string(answered) + " of " +
                              std::to_string(kAnswerCount) +
                              (saved.isOk() ? "; the record was saved with the rest empty" : ""));
    }
    keepFailure(run, saved);
}

void runListing(RunContext& run) {
    const ListingTarget target{run.out, run.outputDescriptor, run.outputIsTerminal};
    keepFailure(run, listRecords(run.recordFile, target));
}

void tellFailures(const RunContext& run) {
    for (const std::string& notice : run.notices) {
        run.err << "profiledesk: " << notice << std::endl;
    }
    for (const Status& failure : run.failures) {
        run.err << "profiledesk: " << failure.message() << std::endl;
    }
}

}  // namespace profiledesk
