#pragma once

#include <istream>
#include <ostream>

namespace profiledesk {

// Option 3: what options 1 and 2 are for, and how to find a record by its time and date.
void showGuidanceA(std::ostream& out);

// Option 4: how to search the listing with the console's Find box; then asks for option 1
// or 2 and returns the answer (0 when none could be read) for the caller to run.
int showGuidanceB(std::istream& in, std::ostream& out);

// What follows option 4's chosen flow: a blank line and the closing notice.
void endGuidanceB(std::ostream& out);

}  // namespace profiledesk
