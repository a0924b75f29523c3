// Collating into a SQLite file. The rows of a run are staged in a TEMP table, which takes
// no lock on the database, and go into `records` in one short write transaction at the
// end: a run killed before then leaves the database untouched, and two runs at once only
// wait for each other's final insert.
//
// The database keeps SQLite's default rollback journal: a run is one transaction, so the
// journal costs a handful of syncs, and unlike WAL it changes nothing in the file for the
// other programs that open it and works on a network share. Writes are synchronous=FULL.

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "office/collate/schema.hpp"
#include "office/collate/target.hpp"

namespace profiledesk::office {

namespace {

struct DatabaseCloser {
    void operator()(sqlite3* db) const { (void)sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { (void)sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The record's number and line as integers, every other value as the text stored, figures
// included, so that nothing is rounded.
constexpr SqlTypes kStagedTypes{"TEXT NOT NULL", "INTEGER NOT NULL", "TEXT NOT NULL", "TEXT NOT NULL"};
constexpr SqlTypes kTableTypes{"TEXT NOT NULL", "INTEGER NOT NULL", "TEXT NOT NULL", "TEXT NOT NULL UNIQUE"};

// The connection's own table of the run's rows.
constexpr std::string_view kStaged = "temp.staged";

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
        status = execute("CREATE TABLE " + std::string(kStaged) + " " + columnDefinitions(kStagedTypes));
        if (!status.isOk()) {
            return status;
        }
        std::string placeholders = "?";
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            placeholders += ", ?";
        }
        status = prepareStatement(
            "INSERT INTO " + std::string(kStaged) + " (" + columnList() + ") VALUES (" + placeholders + ")",
            stage_);
        // One transaction for all the staged rows, not one a row; it writes only the
        // connection's own temporary database, so it locks nothing that others use.
        return status.isOk() ? execute("BEGIN") : status;
    }

    Status add(const Row& row, std::string_view key) override {
        sqlite3_stmt* statement = stage_.get();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const std::string_view value = row.values.at(i);
            // The row outlives the step, so SQLite need not copy the bytes.
            (void)sqlite3_bind_text64(statement, static_cast<int>(i) + 1, value.data(), value.size(),
                                      SQLITE_STATIC, SQLITE_UTF8);
        }
        (void)sqlite3_bind_text64(statement, static_cast<int>(kColumnCount) + 1, key.data(), key.size(),
                                  SQLITE_STATIC, SQLITE_UTF8);
        const int code = sqlite3_step(statement);
        (void)sqlite3_reset(statement);
        if (code != SQLITE_DONE) {
            return failure(code);
        }
        ++staged_;
        return Status::ok();
    }

    // Takes the write lock, waiting up to the busy timeout, and makes the schema where it is
    // missing.
    Status beginWriting() {
        const Status begun = execute("BEGIN IMMEDIATE");
        return begun.isOk() ? createSchema() : begun;
    }

    Status commit(CollateCounts& counts) override {
        Status status = execute("COMMIT");  // the staged rows
        if (!status.isOk()) {
            return status;
        }
        status = beginWriting();
        if (status.isOk()) {
            // In file order, so that the rowids follow the records.
            // Only a row whose key is there already is skipped: any other constraint that a
            // row breaks fails the run, which then changes nothing. SQLite needs a WHERE
            // before ON CONFLICT in an INSERT ... SELECT.
            status = execute("INSERT INTO main." + std::string(kRecordsTable) + " (" + columnList() +
                             ") SELECT " + columnList() + " FROM " + std::string(kStaged) +
                             " WHERE true ORDER BY rowid ON CONFLICT (" + std::string(kKeyColumn) +
                             ") DO NOTHING");
        }
        const auto added = static_cast<std::uint64_t>(sqlite3_changes64(db_.get()));
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
        Statement statement;
        Status status = prepareStatement(
            "SELECT count(*) FROM pragma_index_list('records', 'main') AS list "
            "WHERE list.\"unique\" AND NOT list.partial AND (SELECT group_concat(info.name) "
            "FROM pragma_index_info(list.name) AS info) = 'record_key'",
            statement);
        if (!status.isOk()) {
            return status;
        }
        const int code = sqlite3_step(statement.get());
        if (code != SQLITE_ROW) {
            return failure(code);
        }
        if (sqlite3_column_int(statement.get(), 0) == 0) {
            return Status::failure(path_ +
                                   ": the records table has no UNIQUE constraint on record_key alone; "
                                   "give it one, or collate into another file");
        }
        return Status::ok();
    }

    Status createSchema() {
        const std::string table(kRecordsTable);
        Status status =
            execute("CREATE TABLE IF NOT EXISTS main." + table + " " + columnDefinitions(kTableTypes));
        return status.isOk() ? execute("CREATE INDEX IF NOT EXISTS main." + std::string(kDayIndex) + " ON " +
                                       table + " (" + std::string(kDayIndexColumn) + ")")
                             : status;
    }

    Status execute(const std::string& sql) {
        const int code = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
        return code == SQLITE_OK ? Status::ok() : failure(code);
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
