#include "run/flows.hpp"

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
    enterRecord(run.in, run.out, run.record);
    writeEntryReport(run.out, run.record);
    keepFailure(run, appendWhole(run.recordFile, formatRecord(run.record, run.clock, kMakerDetails)));
}

void runListing(RunContext& run) {
    const ListingTarget target{run.out, run.outputDescriptor, run.outputIsTerminal};
    keepFailure(run, listRecords(run.recordFile, target));
}

void tellFailures(const RunContext& run) {
    for (const Status& failure : run.failures) {
        run.err << "profiledesk: " << failure.message() << std::endl;
    }
}

}  // namespace profiledesk
