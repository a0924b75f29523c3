#pragma once

// A day of the calendar, as records and the command line name them.

#include <chrono>
#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace profiledesk {

class Day {
public:
    Day() : Day(0, 0, 0) {}
    // Any month 1 to 12 with any day 1 to 31: a record may name a day the calendar has not,
    // such as 31 February, and still be ordered among the others.
    Day(int year, int month, int day)
        : date_(std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                std::chrono::day(static_cast<unsigned>(day))) {}

    // Exactly "YYYY-MM-DD", if the calendar has that day.
    static std::optional<Day> parse(std::string_view text);

    [[nodiscard]] int year() const { return static_cast<int>(date_.year()); }
    [[nodiscard]] int month() const { return static_cast<int>(static_cast<unsigned>(date_.month())); }
    [[nodiscard]] int day() const { return static_cast<int>(static_cast<unsigned>(date_.day())); }

    // "2026-12-06".
    [[nodiscard]] std::string text() const;
    // The day after; after a day the calendar has not, the day after its place past the
    // month's end (31 February 2026 counts as 3 March).
    [[nodiscard]] Day next() const;
    // The days from this one to `later`, counted as next() does.
    [[nodiscard]] long long daysUntil(const Day& later) const;

    friend bool operator==(const Day&, const Day&) = default;
    friend std::strong_ordering operator<=>(const Day& a, const Day& b) { return a.date_ <=> b.date_; }

private:
    explicit Day(std::chrono::year_month_day date) : date_(date) {}

    std::chrono::year_month_day date_;
};

}  // namespace profiledesk
