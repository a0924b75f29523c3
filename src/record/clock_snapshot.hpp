#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace profiledesk {

// The local date and time, taken once when the run starts; the clock line and the
// record written later both show this same moment.
struct ClockSnapshot {
    int dayOfMonth = 1;    // 1 to 31
    int month = 0;         // 0 = January
    int year = 1970;       // four digits
    std::string timeText;  // "The Time Now Is :: 03:53PM."
};

// Builds the snapshot from a local broken-down time.
ClockSnapshot snapshotFrom(const std::tm& local);

// The snapshot used when the local time cannot be had: 1 January 1970, 12:00AM.
ClockSnapshot fallbackSnapshot();

// "January" for 0 up to "December" for 11; empty for any other number.
std::string_view monthName(int month);

// 0 for "January" up to 11 for "December"; nothing for any other text.
std::optional<int> monthNumber(std::string_view name);

}  // namespace profiledesk
