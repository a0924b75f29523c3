#pragma once

// The records office's commands. Each takes its options and the streams it writes to, and
// returns the exit status: 0 all well, 1 problems in the files or a failure, 2 a usage error.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/day.hpp"
#include "common/status.hpp"
#include "office/desks/desk_input.hpp"
#include "office/output/row_writer.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {

// The streams a command writes to, and what the entry point knows of them.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;                       // progress is shown only there
    std::size_t maxLineBytes = kDefaultMaxLineBytes;  // the longest line a record file may have
    bool allProblems = false;  // every problem in full, not only the first of each kind
};

// The days a record must have been entered on, inclusive; either end may be open.
struct DateRange {
    std::optional<Day> from;
    std::optional<Day> to;

    [[nodiscard]] bool contains(const EnteredAt& at) const {
        return (!from || at.date >= *from) && (!to || at.date <= *to);
    }
};

int runCheck(const std::vector<DeskInput>& desks, Streams& console);
// The records a database holds, desk by desk, and those that need a look.
int runCheckDatabase(const std::string& database, Streams& console);

struct ExportOptions {
    Format format = Format::csv;
    bool forSpreadsheet = false;  // CSV with a byte-order mark, and no cell read as a formula
    bool withKeys = false;        // each row's record_key, and from a database its state
    std::string fromDb;           // a SQLite file or a PostgreSQL connection, read instead of desks
    bool everyRecord = false;     // from a database, the rejected, erased and gone records too
    DateRange dates;
    std::string output;  // empty: standard output
    std::vector<DeskInput> desks;
};
int runExport(const ExportOptions& options, Streams& console);

struct CollateOptions {
    std::string into;   // a SQLite file, or a PostgreSQL connection URI or string
    bool full = false;  // read every file from its start, whatever the checkpoints say
    std::vector<DeskInput> desks;
    // How long a SQLite database that another program holds is waited for: longer than any
    // other collate's final insert of a desk's records, short enough to be told of soon.
    int waitSeconds = 5;
    std::string by;  // who runs it, for the history of records it marks gone or reads again
    std::string at;  // now, in UTC
};
int runCollate(const CollateOptions& options, Streams& console);

struct ReportOptions {
    std::string output;  // empty: standard output
    DateRange dates;
    std::string title;
    std::vector<DeskInput> desks;
    std::string fromDb;  // instead of the desks: a SQLite file, or a PostgreSQL connection URI or string
    bool everyRecord = false;  // from a database, the rejected, erased and gone records too
};
int runReport(const ReportOptions& options, Streams& console);

struct FindOptions {
    std::string text;   // found as a part of an answer, case ignored
    std::string field;  // the one column to look in; empty: every answer
    DateRange dates;
    Format format = Format::text;  // as a clerk reads a profile, or rows as export writes them
    std::string fromDb;            // a SQLite file or a PostgreSQL connection, read instead of desks
    bool everyRecord = false;      // from a database, the rejected, erased and gone records too
    std::vector<DeskInput> desks;
};
// 0 when a record matched, 1 when none did, 2 on a usage error or a file or database that
// could not be read, as grep.
int runFind(const FindOptions& options, Streams& console);

// The clerk's commands on the office's database: show, correct, review and forget records.
struct ClerkOptions {
    std::string db;                      // a SQLite file or a PostgreSQL connection, as collate's --into
    std::vector<std::string> arguments;  // keys, and FIELD=VALUE or a review state as the command takes
    std::string why;                     // the reason, kept with each change
    std::string by;                      // the clerk, where not the login name
    std::string login;                   // the login name, from the entry point
    std::string at;                      // now, in UTC, from the entry point
    int waitSeconds = 5;                 // how long a database another run holds is waited for
};
int runShow(const ClerkOptions& options, Streams& console);
int runCorrect(const ClerkOptions& options, Streams& console);
int runReview(const ClerkOptions& options, Streams& console);
int runForget(const ClerkOptions& options, Streams& console);

// "profiledesk-records: " and the message, on a line of its own: the one writer of the
// tool's own messages. Every message and problem is shown through visibleText(): the names
// and bytes it quotes come from outside, and must not drive a terminal.
void tellError(Streams& console, const std::string& message);
inline void tellError(Streams& console, const Status& status) { tellError(console, status.message()); }

// The exit status a failure ends a command with: 2 for a usage error (what was asked cannot be
// done, or not by this build), 1 for any other, 0 for none. The one place this is decided.
int exitStatus(const Status& status);
// Tells the failure, if it is one, and gives its exit status.
int tellFailure(Streams& console, const Status& status);

// Flushes standard output; if any of it could not be written, says so with the reason and
// returns true.
bool tellIfOutputFailed(Streams& console);

// "FILE:LINE: what is wrong", on a line of its own written at once; a line of 0 concerns the
// whole file.
void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what);

// Tells the problems of one file: the first kProblemsInFull of each kind in full, then, at the
// file's end, how many more of that kind there were, unless every one is asked for. A file
// from a Windows desk would otherwise tell every line of it on every run.
class ProblemTeller {
public:
    static constexpr std::uint64_t kProblemsInFull = 10;

    ProblemTeller(std::ostream& out, bool all) : out_(out), all_(all) {}

    // An empty kind is the message's own.
    void tell(std::string_view file, std::size_t line, std::string_view what, std::string_view kind = {});
    // The count of what was not told in full, one line per kind; the next file starts afresh.
    void endFile(std::string_view file);
    // Whether the next problem of `kind` will be told in full: a message that costs something
    // to make is made only then.
    [[nodiscard]] bool toldInFull(std::string_view kind) const;

private:
    std::ostream& out_;
    bool all_;
    std::vector<std::pair<std::string, std::uint64_t>> kinds_;  // in the order first met
};

// The line of the file that holds `value`, a part of the record's text; 0 for a value from
// elsewhere (the file's name).
std::size_t lineOf(const StoredRecord& record, std::string_view value);

}  // namespace profiledesk::office
