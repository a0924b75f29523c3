#include "record/clock_snapshot.hpp"

#include <array>
#include <cstddef>

namespace profiledesk {

namespace {

constexpr std::array<std::string_view, 12> kMonthNames{
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December",
};

}  // namespace

std::string_view monthName(int month) {
    if (month < 0 || month >= static_cast<int>(kMonthNames.size())) {
        return "";
    }
    return kMonthNames.at(static_cast<std::size_t>(month));
}

std::optional<int> monthNumber(std::string_view name) {
    for (std::size_t month = 0; month < kMonthNames.size(); ++month) {
        if (kMonthNames.at(month) == name) {
            return static_cast<int>(month);
        }
    }
    return std::nullopt;
}

ClockSnapshot snapshotFrom(const std::tm& local) {
    ClockSnapshot clock;
    clock.dayOfMonth = local.tm_mday;
    clock.month = local.tm_mon;
    clock.year = local.tm_year + 1900;
    // The program never changes its locale, so %p is the classic AM or PM.
    std::array<char, 80> buffer{};
    const std::size_t length =
        std::strftime(buffer.data(), buffer.size(), "The Time Now Is :: %I:%M%p.", &local);
    clock.timeText.assign(buffer.data(), length);
    return clock;
}

ClockSnapshot fallbackSnapshot() {
    std::tm epoch{};
    epoch.tm_mday = 1;
    epoch.tm_year = 70;
    return snapshotFrom(epoch);
}

}  // namespace profiledesk
