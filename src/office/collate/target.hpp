#pragma once

// A database that collated records go into. Each kind of database has its own source file;
// a build without one says so and the command ends with status 2.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <vector>

#include "common/status.hpp"
#include "office/commands.hpp"
#include "office/io/columns.hpp"

namespace profiledesk::office {

struct CollateCounts {
    std::uint64_t added = 0;
    std::uint64_t present = 0;  // already there, by their key
};

class CollateTarget {
public:
    CollateTarget() = default;
    virtual ~CollateTarget() = default;  // without commit(), nothing added is kept
    CollateTarget(const CollateTarget&) = delete;
    CollateTarget& operator=(const CollateTarget&) = delete;
    CollateTarget(CollateTarget&&) = delete;
    CollateTarget& operator=(CollateTarget&&) = delete;

    // Takes one row, with its unique key, to be kept unless a row with that key is there.
    virtual Status add(const Row& row, std::string_view key) = 0;
    // What the last add() had to change in the row to store it, a column at a time ("not
    // UTF-8"); told on stderr against the line that holds the value.
    struct Note {
        std::size_t column = 0;
        std::string_view what;
    };
    virtual std::span<const Note> lastNotes() const { return {}; }
    // Keeps every row taken, all at once, and counts the new ones and those already there.
    virtual Status commit(CollateCounts& counts) = 0;
};

struct OpenedTarget {
    std::unique_ptr<CollateTarget> target;  // null on failure
    Status status = Status::ok();
    bool unsupported = false;  // a database this build cannot have, or none that lasts: a usage error
};

// The records table: the export's columns, a unique record_key, and an index on entered_at;
// created where missing. A database another program holds is waited for up to waitSeconds.
OpenedTarget openSqliteTarget(const std::string& path, int waitSeconds);
OpenedTarget openPostgresTarget(const std::string& connection);

// Collates every file into an opened target and commits: the command's exit status. The run
// ends at the first failure of the target, which then keeps nothing.
int collateInto(CollateTarget& target, const std::vector<DeskInput>& desks, Streams& console);

// True for a PostgreSQL connection URI (postgresql://, postgres://) or a key=value string that
// libpq reads; a file name with '=' in it ("office=2026.db") is not one.
bool namesPostgres(std::string_view into);

}  // namespace profiledesk::office
