// profiledesk: records candidate profiles at a community desk. One run serves one choice
// from the menu and ends when a key is pressed.

#include <iostream>

#include "common/process.hpp"
#include "run/console.hpp"
#include "run/session.hpp"
#include "store/record_store.hpp"

int main() {
    using namespace profiledesk;
    process::prepare(process::Output::text);
    // One buffered writer for all output, flushed line by line where the program says so.
    std::ios::sync_with_stdio(false);

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
