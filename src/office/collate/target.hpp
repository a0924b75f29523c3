#pragma once

// Where collated records go: the office's database (load.cpp, over the database seam), or a
// stand-in in the tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"
#include "office/columns.hpp"
#include "office/commands.hpp"
#include "office/db/migrate.hpp"

namespace profiledesk::office {

// A desk read again in another encoding than the one it was collated in, and what changed.
struct Reread {
    std::string source;
    std::string was;  // empty where the database did not know
    std::string now;
    std::uint64_t changed = 0;  // records whose answers changed
};

struct CollateCounts {
    std::uint64_t added = 0;
    std::uint64_t present = 0;  // already there, by their key
    std::uint64_t gone = 0;     // marked gone from their desk's file
    std::uint64_t skipped = 0;  // records before the checkpoints the files were read after
    std::vector<Reread> reread;
};

// Where the last collate of a source stopped: just after its last whole record.
struct Checkpoint {
    std::uint64_t offset = 0;      // the file's bytes up to there
    std::uint64_t records = 0;     // whole records up to there
    std::uint64_t lines = 0;       // lines up to there
    std::uint64_t tailLength = 0;  // the bytes of the last record
    std::string tail;              // its content hash
};

// What the database keeps of a desk before a run.
struct DeskState {
    std::optional<Checkpoint> checkpoint;
    // Its rows or counts are not those its checkpoint speaks for: deleted or changed by hand.
    bool disagrees = false;
    std::optional<std::string> encoding;  // the one it was last read with, where known
    bool known = false;                   // the database has collated it before
};

// One file of a run, told to the target once its rows have all been added.
struct FileRun {
    std::string source;
    bool fromStart = true;              // read from its start, so it depends on nothing stored
    std::optional<Checkpoint> from;     // otherwise, the checkpoint it was read after
    std::optional<Checkpoint> reached;  // where the next run may start; none for a pipe or an empty file
    bool keeps = true;     // keeps its checkpoint and counts: not after a read that failed part-way
    std::string encoding;  // the one it was read with
    bool reread = false;   // read again in another encoding: its records' answers are replaced
    std::string was;       // the encoding it was read with before, where known
    bool known = false;    // its desk has records in the database from before
};

// The key of a row is its content hash and its place among the records of the same content
// in its file ("<hash>-2" for the second), so that a record entered twice is kept twice and
// a file collated again adds nothing. The place is counted by the database: the records of
// the part read now, after those it keeps counted for the part read before.

class CollateTarget {
public:
    CollateTarget() = default;
    virtual ~CollateTarget() = default;  // without commit(), nothing added is kept
    CollateTarget(const CollateTarget&) = delete;
    CollateTarget& operator=(const CollateTarget&) = delete;
    CollateTarget(CollateTarget&&) = delete;
    CollateTarget& operator=(CollateTarget&&) = delete;

    // Reads what is kept of these sources, then makes ready for the rows. Called once, before
    // anything else.
    virtual Status start(const std::vector<std::string>& sources, std::vector<DeskState>& found) = 0;
    // Takes one row of the `file`-th file of the run (from 0), with the hash of its content,
    // to be kept unless a row with its key is there.
    virtual Status add(const Row& row, std::string_view content, std::uint32_t file) = 0;
    // Ends the rows of the next file of the run.
    virtual void endFile(FileRun file) = 0;
    // What the last add() had to change in the row to store it, a column at a time ("not
    // UTF-8"); told on stderr against the line that holds the value.
    struct Note {
        std::size_t column = 0;
        std::string_view what;
    };
    virtual std::span<const Note> lastNotes() const { return {}; }
    // Reads the `file`-th file again from `from` (another run's checkpoint), its rows to add()
    // again, and gives what it reached.
    using ReadAgain =
        std::function<Status(std::uint32_t file, const std::optional<Checkpoint>& from, FileRun& run)>;
    // Keeps every row taken, and the checkpoints and counts reached, all at once; counts the
    // new rows and those already there. A file read after a checkpoint that another run moved
    // meanwhile is read again from where that run stopped, through `readAgain`, while this one
    // holds the database: two collates of one desk both succeed, the second adding what is left.
    virtual Status commit(CollateCounts& counts, const ReadAgain& readAgain) = 0;
    // Whether the run made the database: a name mistyped is then told.
    [[nodiscard]] virtual bool made() const { return false; }
    // The database, as messages name it.
    [[nodiscard]] virtual std::string name() const { return {}; }
};

// The office's database that `into` names, as collate's --into takes it, opened to collate into
// and carried forward to this release's schema (told through `tell`). A SQLite file is made
// where it is missing; one that another program holds is waited for up to waitSeconds.
// Changes the run makes to records already there (gone, read again) are kept in their history
// under `by` at `at`. `opener` opens it, where not open() itself.
Result<std::unique_ptr<CollateTarget>> openTarget(const std::string& into, int waitSeconds,
                                                  const db::Teller& tell, const std::string& by,
                                                  const std::string& at, const db::Opener& opener = {});

// Collates every file into an opened target and commits: the command's exit status. Each is
// read after its desk's checkpoint unless `full`. The run ends at the first failure of the
// target, which then keeps nothing.
int collateInto(CollateTarget& target, const std::vector<DeskInput>& desks, Streams& console,
                bool full = false);

}  // namespace profiledesk::office
