#include "office/commands.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace profiledesk::office {

std::optional<int> parseDay(const std::string& text) {
    // Exactly YYYY-MM-DD.
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto number = [&text](std::size_t from, std::size_t length) -> std::optional<int> {
        int value = 0;
        const char* first = text.data() + from;
        const auto [end, error] = std::from_chars(first, first + length, value);
        if (error != std::errc{} || end != first + length) {
            return std::nullopt;
        }
        return value;
    };
    const std::optional<int> year = number(0, 4);
    const std::optional<int> month = number(5, 2);
    const std::optional<int> day = number(8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1) {
        return std::nullopt;
    }
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int last = kDays.at(static_cast<std::size_t>(*month - 1)) + (*month == 2 && leap ? 1 : 0);
    if (*day > last) {
        return std::nullopt;
    }
    return *year * 10000 + *month * 100 + *day;
}

void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what) {
    out << file;
    if (line > 0) {
        out << ':' << line;
    }
    out << ": " << what << '\n';
}

void tellError(Streams& console, const std::string& message) {
    console.err << "profiledesk-records: " << message << std::endl;
}

bool tellIfOutputFailed(Streams& console) {
    console.out.flush();
    if (console.out) {
        return false;
    }
    // The stream keeps no reason; the failed write's errno is still the last one set.
    const int error = errno;
    tellError(console, "could not write to standard output" +
                           (error != 0 ? ": " + std::string(std::strerror(error)) : std::string()));
    return true;
}

}  // namespace profiledesk::office
