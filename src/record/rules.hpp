#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace profiledesk {

namespace detail {

template <char Lead, char Fill, std::size_t Count>
inline constexpr auto kRuleChars = [] {
    std::array<char, Count + (Lead != '\0' ? 1 : 0)> chars{};
    chars.fill(Fill);
    if constexpr (Lead != '\0') {
        chars[0] = Lead;
    }
    return chars;
}();

}  // namespace detail

// A fixed-width line of one repeated character, with an optional leading character, that
// frames the report and the record.
template <char Lead, char Fill, std::size_t Count>
inline constexpr std::string_view kRule{detail::kRuleChars<Lead, Fill, Count>.data(),
                                        detail::kRuleChars<Lead, Fill, Count>.size()};

inline constexpr std::string_view kReportRule = kRule<' ', '-', 118>;
inline constexpr std::string_view kDottedRule = kRule<' ', '.', 107>;
inline constexpr std::string_view kStarRule = kRule<' ', '*', 118>;
inline constexpr std::string_view kShortDashRule = kRule<'\0', '-', 117>;
inline constexpr std::string_view kLongDashRule = kRule<'\0', '-', 119>;

}  // namespace profiledesk
