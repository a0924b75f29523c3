#include "common/day.hpp"

#include <array>
#include <charconv>
#include <cstdio>

namespace profiledesk {

std::optional<Day> Day::parse(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto number = [text](std::size_t from, std::size_t length) -> std::optional<int> {
        int value = 0;
        const char* first = text.data() + from;
        const auto [end, error] = std::from_chars(first, first + length, value);
        if (error != std::errc{} || end != first + length) {
            return std::nullopt;
        }
        return value;
    };
    const std::optional<int> y = number(0, 4);
    const std::optional<int> m = number(5, 2);
    const std::optional<int> d = number(8, 2);
    if (!y || !m || !d) {
        return std::nullopt;
    }
    const Day parsed(*y, *m, *d);
    return parsed.date_.ok() ? std::optional<Day>(parsed) : std::nullopt;
}

std::string Day::text() const {
    std::array<char, 32> text{};
    const int length = std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", year(), month(), day());
    return {text.data(), static_cast<std::size_t>(length > 0 ? length : 0)};
}

Day Day::next() const {
    return Day(std::chrono::year_month_day(std::chrono::sys_days(date_) + std::chrono::days(1)));
}

long long Day::daysUntil(const Day& later) const {
    return (std::chrono::sys_days(later.date_) - std::chrono::sys_days(date_)).count();
}

}  // namespace profiledesk
