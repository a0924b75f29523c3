// profiledesk: records candidate profiles at a community desk. One run serves one choice
// from the menu and ends when a key is pressed.

#include <iostream>

#include "common/output_watch.hpp"
#include "common/process.hpp"
#include "run/console.hpp"
#include "run/session.hpp"
#include "store/record_store.hpp"

int main() {
    using namespace profiledesk;
    process::prepare(process::Output::text);
    process::keepRunningWhenOutputCloses();
    // One buffered writer for all output, flushed line by line where the program says so.
    std::ios::sync_with_stdio(false);
    // A failed write to the reader is told with its reason at the end; the record is saved anyway.
    const OutputWatch watch(std::cout);

    std::tm local{};
    RunContext run{
        .in = std::cin,
        .out = std::cout,
        .err = std::cerr,
        .clock = console::localTimeNow(local) ? snapshotFrom(local) : fallbackSnapshot(),
        .recordFile = kRecordFileName,
        .outputDescriptor = console::outputDescriptor(),
        .outputIsTerminal = process::outputIsTerminal(),
        .record = {},
    };
    return runSession(run, console::waitForKey);
}
