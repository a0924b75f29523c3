#pragma once

// The records office's commands. Each takes its options and the streams it writes to, and
// returns the exit status: 0 all well, 1 problems in the files or a failure, 2 a usage error.

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "office/io/desk_input.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// The streams a command writes to, and what the entry point knows of them.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // progress is shown only there
};

// The days a record must have been entered on, inclusive; either end may be open.
struct DateRange {
    std::optional<int> from;  // as 20261206
    std::optional<int> to;

    [[nodiscard]] bool contains(const EnteredAt& at) const {
        const int day = at.year * 10000 + at.month * 100 + at.day;
        return (!from || day >= *from) && (!to || day <= *to);
    }
};

// "2026-12-06" as 20261206, if it is a real day.
std::optional<int> parseDay(const std::string& text);

int runCheck(const std::vector<DeskInput>& desks, Streams& console);

struct ExportOptions {
    std::string format = "csv";  // or "jsonl"
    DateRange dates;
    std::string output;  // empty: standard output
    std::vector<DeskInput> desks;
};
int runExport(const ExportOptions& options, Streams& console);

struct CollateOptions {
    std::string into;  // a SQLite file, or a PostgreSQL connection URI or string
    std::vector<DeskInput> desks;
    // How long a SQLite database that another program holds is waited for: longer than any
    // other collate's final insert of a desk's records, short enough to be told of soon.
    int waitSeconds = 5;
};
int runCollate(const CollateOptions& options, Streams& console);

struct ReportOptions {
    std::string output;  // empty: standard output
    DateRange dates;
    std::string title;
    std::vector<DeskInput> desks;
};
int runReport(const ReportOptions& options, Streams& console);

// "profiledesk-records: " and the message, on a line of its own.
void tellError(Streams& console, const std::string& message);

// Flushes standard output; if any of it could not be written, says so with the reason and
// returns true.
bool tellIfOutputFailed(Streams& console);

// "FILE:LINE: what is wrong", on a line of its own; a line of 0 concerns the whole file.
void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what);

}  // namespace profiledesk::office
