#include "run/clock_line.hpp"

namespace profiledesk {

void writeClockLine(std::ostream& out, const ClockSnapshot& clock) {
    out << "          Today's date is " << clock.dayOfMonth << " " << monthName(clock.month) << "  "
        << clock.year << "    ,  " << clock.timeText << std::endl;
}

}  // namespace profiledesk
