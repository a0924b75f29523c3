#pragma once

#include <ostream>

#include "run/flows.hpp"

namespace profiledesk {

// Option 3: what options 1 and 2 are for, and how to find a record by its time and date.
void showGuidanceA(std::ostream& out);

// Option 4: how to search the listing with the console's Find box; then asks for option 1
// or 2 and runs it.
void showGuidanceB(RunContext& run);

}  // namespace profiledesk
