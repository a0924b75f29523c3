#pragma once

#include <cstddef>
#include <ostream>
#include <string_view>

namespace profiledesk {

// A fixed-width line of one repeated character that frames the report and the record.
struct Rule {
    std::string_view lead;  // a leading blank, or nothing
    char fill;
    std::size_t count;
};

inline std::ostream& operator<<(std::ostream& out, const Rule& rule) {
    out << rule.lead;
    for (std::size_t i = 0; i < rule.count; ++i) {
        out.put(rule.fill);
    }
    return out;
}

inline constexpr Rule kReportRule{" ", '-', 118};
inline constexpr Rule kDottedRule{" ", '.', 107};
inline constexpr Rule kStarRule{" ", '*', 118};
inline constexpr Rule kShortDashRule{"", '-', 117};
inline constexpr Rule kLongDashRule{"", '-', 119};

}  // namespace profiledesk
