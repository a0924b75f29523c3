#include "run/flows.hpp"

#include "notices/maker_details.hpp"
#include "store/record_store.hpp"

namespace profiledesk {

namespace {

void reportFailure(RunContext& run, const Status& status) {
    if (!status.isOk()) {
        run.err << "profiledesk: " << status.message() << std::endl;
        run.failed = true;
    }
}

}  // namespace

void runDataEntry(RunContext& run) {
    enterRecord(run.in, run.out, run.record);
    writeEntryReport(run.out, run.record);
    reportFailure(run, saveRecord(run.recordFile, run.record, run.clock, kMakerDetails));
}

void runListing(RunContext& run) {
    const ListingTarget target{run.out, run.outputDescriptor, run.outputIsTerminal};
    reportFailure(run, listRecords(run.recordFile, target));
}

}  // namespace profiledesk
