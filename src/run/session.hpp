#pragma once

#include <functional>

#include "run/flows.hpp"

namespace profiledesk {

// One whole run: notices, clock line, menu, the chosen option and the closing pause, whose
// key press `waitForKey` waits for. Returns the exit status.
int runSession(RunContext& run, const std::function<void()>& waitForKey);

}  // namespace profiledesk
