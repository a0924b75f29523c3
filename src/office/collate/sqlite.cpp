// Collating into a SQLite file. The rows of a run are staged in a TEMP table, which takes
// no lock on the database, and go into `records` in one short write transaction at the
// end: a run killed before then leaves the database untouched, and two runs at once only
// wait for each other's final insert.
//
// Into a table of its own making, a run adds the rows first and builds the unique key's index
// and the day index after them, each by one sort: inserting random keys into an index one at a
// time reads and writes pages all over the file once the index outgrows the page cache.
//
// The database keeps SQLite's default rollback journal: a run is one transaction, so the
// journal costs a handful of syncs, and unlike WAL it changes nothing in the file for the
// other programs that open it and works on a network share. Writes are synchronous=FULL.

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "office/collate/run_sql.hpp"
#include "office/collate/target.hpp"
#include "office/db/schema.hpp"
#include "office/db/sqlite_handles.hpp"

namespace profiledesk::office {

namespace {

// The record's number and line as integers, every other value as the text stored, figures
// included, so that nothing is rounded.
constexpr SqlTypes kStagedTypes{"TEXT NOT NULL", "INTEGER NOT NULL", "TEXT NOT NULL", "TEXT NOT NULL"};
constexpr SqlTypes kTableTypes{"TEXT NOT NULL", "INTEGER NOT NULL", "TEXT NOT NULL", "TEXT NOT NULL UNIQUE"};
// A table made by the run: its key's uniqueness comes from an index built after the rows.
constexpr SqlTypes kNewTableTypes{"TEXT NOT NULL", "INTEGER NOT NULL", "TEXT NOT NULL", "TEXT NOT NULL"};
constexpr std::string_view kKeyIndex = "records_record_key";

// The page cache of the final write: inserting into an existing table's key index touches its
// pages at random, and a new table's index builds sort in memory up to the cache's size. Twice
// SQLite's default pays for both; fixed, so that memory stays flat however large the run (at
// 8 MiB, a first run of 1 GiB peaked up to 5 MiB above one of 128 MiB).
constexpr std::string_view kWriteCacheKiB = "4096";

const SqlDialect kSqlite{"INTEGER", "TEXT", true};

// What went wrong, in the user's words where SQLite's are unclear, with the system's reason.
std::string reasonOf(sqlite3* db, int code, int waitSeconds) {
    switch (code & 0xff) {
        case SQLITE_NOTADB: return "not a SQLite database";
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "the database is locked by another program (waited " + std::to_string(waitSeconds) + " s)";
        case SQLITE_READONLY: return "the database is read-only";
        case SQLITE_FULL: return "the disk is full";
        default: break;
    }
    if (code == SQLITE_IOERR_WRITE) {
        // SQLite keeps no system reason for a failed write.
        return "could not write (the disk is full, or the file is at its size limit)";
    }
    std::string reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
#ifndef _WIN32
    // On Windows this is a GetLastError() code, which strerror does not know.
    const int systemError = db != nullptr ? sqlite3_system_errno(db) : 0;
    if (systemError != 0) {
        reason += std::string(" (") + std::strerror(systemError) + ")";
    }
#endif
    return reason;
}

class SqliteTarget final : public CollateTarget {
public:
    SqliteTarget(std::string path, Database db, int waitSeconds)
        : path_(std::move(path)), db_(std::move(db)), waitSeconds_(waitSeconds) {}

    // Makes the staging table and checks, in a transaction undone at once, that the
    // database can be written, so that a run is refused before reading any file.
    Status prepare() {
        Status status = execute("PRAGMA main.synchronous = FULL; PRAGMA temp.cache_size = -8192");
        if (!status.isOk()) {
            return status;
        }
        status = beginWriting();
        if (status.isOk()) {
            status = checkRecordsTable();
        }
        const Status undone = execute("ROLLBACK");
        if (!status.isOk() || !undone.isOk()) {
            return status.isOk() ? undone : status;
        }
        status = execute("CREATE TEMP TABLE incoming (" + valueDefinitions(kStagedTypes) +
                         ", file INTEGER NOT NULL, content TEXT NOT NULL)");
        if (status.isOk()) {
            status = execute(runFilesTable(kSqlite));
        }
        if (status.isOk()) {
            status = execute("CREATE TEMP TABLE ordinals (id INTEGER PRIMARY KEY, ordinal INTEGER NOT NULL)");
        }
        if (!status.isOk()) {
            return status;
        }
        std::string placeholders = "?, ?";
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            placeholders += ", ?";
        }
        return prepareStatement("INSERT INTO temp.incoming (" + valueColumns() + ", file, content" +
                                    ") VALUES (" + placeholders + ")",
                                stage_);
    }

    Status start(const std::vector<std::string>& sources,
                 std::vector<std::optional<Checkpoint>>& found) override {
        found.assign(sources.size(), std::nullopt);
        // Read before the staging transaction, each on its own: a read inside it would hold a
        // lock on the database until the end of the run. A checkpoint moved meanwhile is
        // found at the commit.
        Statement lookup;
        // Checkpoints without the records table hold for nothing: the files are read whole.
        Status status = prepareStatement(
            "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND "
            "name IN ('collate_checkpoints', '" +
                std::string(kRecordsTable) + "')",
            lookup);
        if (!status.isOk()) {
            return status;
        }
        const bool kept =
            sqlite3_step(lookup.get()) == SQLITE_ROW && sqlite3_column_int(lookup.get(), 0) == 2;
        lookup.reset();
        if (kept) {
            status = prepareStatement(
                "SELECT byte_offset, records, lines, tail_length, tail_hash FROM "
                "main.collate_checkpoints WHERE source = ?",
                lookup);
        }
        for (std::size_t i = 0; kept && status.isOk() && i < sources.size(); ++i) {
            (void)sqlite3_bind_text64(lookup.get(), 1, sources[i].data(), sources[i].size(), SQLITE_STATIC,
                                      SQLITE_UTF8);
            const int code = sqlite3_step(lookup.get());
            if (code == SQLITE_ROW) {
                found[i] =
                    Checkpoint{wholeAt(lookup.get(), 0), wholeAt(lookup.get(), 1), wholeAt(lookup.get(), 2),
                               wholeAt(lookup.get(), 3), textAt(lookup.get(), 4)};
            } else if (code != SQLITE_DONE) {
                status = failure(code);
            }
            (void)sqlite3_reset(lookup.get());
        }
        // One transaction for all the staged rows, not one a row; it writes only the
        // connection's own temporary database, so it locks nothing that others use.
        return status.isOk() ? execute("BEGIN") : status;
    }

    Status add(const Row& row, std::string_view content, std::uint32_t file) override {
        sqlite3_stmt* statement = stage_.get();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const std::string_view value = row.values.at(i);
            // The row outlives the step, so SQLite need not copy the bytes.
            (void)sqlite3_bind_text64(statement, static_cast<int>(i) + 1, value.data(), value.size(),
                                      SQLITE_STATIC, SQLITE_UTF8);
        }
        (void)sqlite3_bind_int64(statement, static_cast<int>(kColumnCount) + 1, file);
        (void)sqlite3_bind_text64(statement, static_cast<int>(kColumnCount) + 2, content.data(),
                                  content.size(), SQLITE_STATIC, SQLITE_UTF8);
        const int code = sqlite3_step(statement);
        (void)sqlite3_reset(statement);
        if (code != SQLITE_DONE) {
            return failure(code);
        }
        ++staged_;
        return Status::ok();
    }

    void endFile(FileRun file) override { files_.push_back(std::move(file)); }

    // Takes the write lock, waiting up to the busy timeout, and makes the schema where it is
    // missing. Given `created`, a records table that is missing is made without its key's
    // index, which the caller builds after the rows; `created` says whether it was.
    Status beginWriting(bool* created = nullptr) {
        Status status = execute("BEGIN IMMEDIATE");
        if (status.isOk() && created != nullptr) {
            status = recordsMissing(*created);
        }
        if (status.isOk() && created != nullptr && *created) {
            status = execute("CREATE TABLE main." + std::string(kRecordsTable) + " " +
                             columnDefinitions(kNewTableTypes));
        }
        return status.isOk() ? createSchema(created != nullptr && *created) : status;
    }

    Status commit(CollateCounts& counts) override {
        Status status = stageFiles();
        if (status.isOk()) {
            status = execute("COMMIT");  // the staged rows
        }
        if (!status.isOk()) {
            return status;
        }
        status = execute("PRAGMA main.cache_size = -" + std::string(kWriteCacheKiB));
        bool created = false;
        if (status.isOk()) {
            status = beginWriting(&created);
        }
        if (status.isOk() && created) {
            // Before the check: a file read after a checkpoint now finds it gone, and the run
            // is refused rather than leave the new table without that file's start.
            status = executeAll(forgetCheckpoints());
        }
        if (status.isOk()) {
            status = checkUnmoved();
        }
        std::uint64_t added = 0;
        if (status.isOk() && created) {
            status = fillNewTable(added);
        } else if (status.isOk()) {
            // In file order, so that the rowids follow the records.
            // Only a row whose key is there already is skipped: any other constraint that a
            // row breaks fails the run, which then changes nothing.
            status = executeAll(insertRows(kSqlite));
            added = static_cast<std::uint64_t>(sqlite3_changes64(db_.get()));
        }
        status = status.isOk() ? executeAll(keepCounts(created)) : status;
        status = status.isOk() ? executeAll(keepCheckpoints()) : status;
        if (status.isOk()) {
            status = execute("COMMIT");
        }
        if (!status.isOk()) {
            (void)sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            return status;
        }
        counts.added = added;
        counts.present = staged_ - added;
        return Status::ok();
    }

    Status failure(int code) const {
        return Status::failure(path_ + ": " + reasonOf(db_.get(), code, waitSeconds_));
    }

private:
    // A records table made elsewhere must have a unique record_key, or each run would add
    // every record again.
    Status checkRecordsTable() {
        int found = 0;
        Status status = countOf(
            "SELECT count(*) FROM pragma_index_list('records', 'main') AS list "
            "WHERE list.\"unique\" AND NOT list.partial AND (SELECT group_concat(info.name) "
            "FROM pragma_index_info(list.name) AS info) = 'record_key'",
            found);
        if (status.isOk() && found == 0) {
            return Status::failure(path_ +
                                   ": the records table has no UNIQUE constraint on record_key alone; "
                                   "give it one, or collate into another file");
        }
        return status;
    }

    // The one number that `sql` selects.
    Status countOf(const std::string& sql, int& count) {
        Statement statement;
        Status status = prepareStatement(sql, statement);
        if (!status.isOk()) {
            return status;
        }
        const int code = sqlite3_step(statement.get());
        if (code != SQLITE_ROW) {
            return failure(code);
        }
        count = sqlite3_column_int(statement.get(), 0);
        return Status::ok();
    }

    // The day index of a table made by this run comes after its rows.
    Status createSchema(bool indexLater = false) {
        const std::string table(kRecordsTable);
        Status status =
            execute("CREATE TABLE IF NOT EXISTS main." + table + " " + columnDefinitions(kTableTypes));
        if (status.isOk() && !indexLater) {
            status = execute("CREATE INDEX IF NOT EXISTS main." + std::string(kDayIndex) + " ON " + table +
                             " (" + std::string(kDayIndexColumn) + ")");
        }
        return status.isOk() ? executeAll(checkpointTables(kSqlite)) : status;
    }

    // Read inside the write transaction, so that no other run can make the table meanwhile.
    Status recordsMissing(bool& missing) {
        int found = 0;
        Status status = countOf("SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = '" +
                                    std::string(kRecordsTable) + "'",
                                found);
        missing = found == 0;
        return status;
    }

    // The rows into the table this run made, then its indexes. Without an index to skip them,
    // a key that the run holds twice (the same record in two files) fails the unique index:
    // the rows are then added again, the first of each key only, as skipping would have kept.
    Status fillNewTable(std::uint64_t& added) {
        Status status = execute("SAVEPOINT rows_in");
        std::vector<std::string> statements = insertRows(kSqlite, false);
        if (status.isOk()) {
            status = executeAll(statements);
        }
        added = static_cast<std::uint64_t>(sqlite3_changes64(db_.get()));
        const std::string keyIndex = "CREATE UNIQUE INDEX main." + std::string(kKeyIndex) + " ON " +
                                     std::string(kRecordsTable) + " (" + std::string(kKeyColumn) + ")";
        int code = SQLITE_OK;
        if (status.isOk()) {
            status = execute(keyIndex, &code);
        }
        if (!status.isOk() && code == SQLITE_CONSTRAINT_UNIQUE) {
            statements.insert(
                statements.end() - 1,
                "DELETE FROM temp.ordinals WHERE id NOT IN (SELECT min(o.id) FROM temp.ordinals o "
                "JOIN temp.incoming i ON i.rowid = o.id GROUP BY i.content, o.ordinal)");
            status = execute("ROLLBACK TO rows_in");
            if (status.isOk()) {
                status = executeAll(statements);
            }
            added = static_cast<std::uint64_t>(sqlite3_changes64(db_.get()));
            if (status.isOk()) {
                status = execute(keyIndex);
            }
        }
        if (status.isOk()) {
            status = execute("CREATE INDEX main." + std::string(kDayIndex) + " ON " +
                             std::string(kRecordsTable) + " (" + std::string(kDayIndexColumn) + ")");
        }
        return status.isOk() ? execute("RELEASE rows_in") : status;
    }

    // The run's files, into the staging transaction.
    Status stageFiles() {
        Statement insert;
        Status status = prepareStatement(runFilesInsert(kSqlite), insert);
        for (std::size_t i = 0; status.isOk() && i < files_.size(); ++i) {
            const FileRun& file = files_[i];
            sqlite3_stmt* statement = insert.get();
            (void)sqlite3_clear_bindings(statement);
            const bool last =
                std::none_of(files_.begin() + static_cast<std::ptrdiff_t>(i) + 1, files_.end(),
                             [&file](const FileRun& later) { return later.source == file.source; });
            (void)sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(i));
            bindText(statement, 2, file.source);
            (void)sqlite3_bind_int(statement, 3, file.fromStart ? 1 : 0);
            (void)sqlite3_bind_int(statement, 4, file.keeps && last ? 1 : 0);
            if (file.from) {
                bindWhole(statement, 5, file.from->offset);
                bindWhole(statement, 6, file.from->records);
                bindText(statement, 7, file.from->tail);
            }
            if (file.reached) {
                bindWhole(statement, 8, file.reached->offset);
                bindWhole(statement, 9, file.reached->records);
                bindWhole(statement, 10, file.reached->lines);
                bindWhole(statement, 11, file.reached->tailLength);
                bindText(statement, 12, file.reached->tail);
            }
            const int code = sqlite3_step(statement);
            (void)sqlite3_reset(statement);
            status = code == SQLITE_DONE ? Status::ok() : failure(code);
        }
        return status;
    }

    Status checkUnmoved() {
        Statement moved;
        Status status = prepareStatement(movedCheckpoint(), moved);
        if (!status.isOk()) {
            return status;
        }
        const int code = sqlite3_step(moved.get());
        if (code == SQLITE_ROW) {
            return Status::failure(textAt(moved.get(), 0) +
                                   ": collated by another run meanwhile; nothing was added, run again");
        }
        return code == SQLITE_DONE ? Status::ok() : failure(code);
    }

    static void bindText(sqlite3_stmt* statement, int at, const std::string& text) {
        (void)sqlite3_bind_text64(statement, at, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    static void bindWhole(sqlite3_stmt* statement, int at, std::uint64_t value) {
        (void)sqlite3_bind_int64(statement, at, static_cast<sqlite3_int64>(value));
    }
    static std::uint64_t wholeAt(sqlite3_stmt* statement, int at) {
        return static_cast<std::uint64_t>(sqlite3_column_int64(statement, at));
    }
    static std::string textAt(sqlite3_stmt* statement, int at) {
        const unsigned char* text = sqlite3_column_text(statement, at);
        return text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                             static_cast<std::size_t>(sqlite3_column_bytes(statement, at)))
                               : std::string();
    }

    // `code`, where given, is SQLite's extended result code.
    Status execute(const std::string& sql, int* code = nullptr) {
        const int result = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
        if (code != nullptr) {
            *code = result;
        }
        return result == SQLITE_OK ? Status::ok() : failure(result);
    }

    // Each in turn, up to the first that fails.
    Status executeAll(const std::vector<std::string>& statements) {
        for (const std::string& sql : statements) {
            if (Status status = execute(sql); !status.isOk()) {
                return status;
            }
        }
        return Status::ok();
    }

    Status prepareStatement(const std::string& sql, Statement& statement) {
        sqlite3_stmt* prepared = nullptr;
        const int code = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()),
                                            SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
        statement.reset(prepared);
        return code == SQLITE_OK ? Status::ok() : failure(code);
    }

    std::string path_;
    Database db_;  // declared before the statement, so closed after it
    int waitSeconds_;
    Statement stage_;
    std::uint64_t staged_ = 0;
    std::vector<FileRun> files_;
};

}  // namespace

OpenedTarget openSqliteTarget(const std::string& path, int waitSeconds) {
    OpenedTarget opened;
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(
        path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXRESCODE, nullptr);
    Database db(raw);
    if (code != SQLITE_OK) {
        opened.status = Status::failure(path + ": " + reasonOf(db.get(), code, waitSeconds));
        return opened;
    }
    // SQLite opens a file it may not write for reading only, and says nothing.
    if (sqlite3_db_readonly(db.get(), "main") == 1) {
        opened.status = Status::failure(path + ": " + reasonOf(db.get(), SQLITE_READONLY, waitSeconds));
        return opened;
    }
    // ":memory:", "" and a memory URI open a database that is gone when the run ends.
    if (const char* file = sqlite3_db_filename(db.get(), "main"); file == nullptr || *file == '\0') {
        opened.status = Status::failure("--into '" + path +
                                        "' names a database that is gone when the run ends; "
                                        "name a file");
        opened.unsupported = true;
        return opened;
    }
    (void)sqlite3_busy_timeout(db.get(), waitSeconds * 1000);
    auto target = std::make_unique<SqliteTarget>(path, std::move(db), waitSeconds);
    opened.status = target->prepare();
    if (opened.status.isOk()) {
        opened.target = std::move(target);
    }
    return opened;
}

}  // namespace profiledesk::office
