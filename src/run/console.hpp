#pragma once

// The console and clock as the platform gives them. One source file per platform
// implements this header; only the entry point calls it.

#include <ctime>

namespace profiledesk::console {

// The local time now; false if the platform cannot say.
bool localTimeNow(std::tm& local);

// The descriptor behind standard output for direct copies, or -1 where there is none.
int outputDescriptor();

// Waits for one key on the console itself (not standard input): no echo, no Enter needed,
// every key counts, Ctrl+C included. Returns at once when there is no console to read. The
// console is left in the mode it had.
void waitForKey();

}  // namespace profiledesk::console
