#pragma once

#include <ostream>

#include "record/clock_snapshot.hpp"

namespace profiledesk {

// The line under the start notice, with the date and the time sentence.
void writeClockLine(std::ostream& out, const ClockSnapshot& clock);

}  // namespace profiledesk
