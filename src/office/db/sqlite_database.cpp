// The office's database in a SQLite file.
//
// The database keeps SQLite's default rollback journal: a collate is one transaction, so the
// journal costs a handful of syncs, and unlike WAL it changes nothing in the file for the
// other programs that open it and works on a network share. Writes are synchronous=FULL.
// Staged rows go into TEMP tables in a transaction of their own, which takes no lock on the
// database: only the final write waits for other writers.

#include <sqlite3.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "common/native_path.hpp"
#include "office/db/database.hpp"
#include "office/db/sqlite_handles.hpp"

namespace profiledesk::office::db {

namespace {

constexpr Dialect kSqlite{Kind::sqlite, "INTEGER", "TEXT", "", "rowid"};

// The page cache of a write: inserting into an existing table's key index touches its pages
// at random, and a new table's index builds sort in memory up to the cache's size. Twice
// SQLite's default pays for both; fixed, so that memory stays flat however large the run. No
// sorting thread: it fills a second buffer while the first is written, 4 MiB more once a sort
// spills, and gained no time.
constexpr std::string_view kWriteCache = "PRAGMA main.cache_size = -4096; PRAGMA threads = 0";
// Staged rows: a temp table's pages, kept in memory up to this, then spilled to a file.
constexpr std::string_view kStagingCache = "PRAGMA temp.cache_size = -8192";

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

Status::Code codeOf(int code) {
    switch (code) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY: return Status::Code::conflict;
        default: break;
    }
    return (code & 0xff) == SQLITE_READONLY || (code & 0xff) == SQLITE_PERM ? Status::Code::accessDenied
                                                                            : Status::Code::ioError;
}

class SqliteRow final : public Row {
public:
    explicit SqliteRow(sqlite3_stmt* statement) : statement_(statement) {}

    [[nodiscard]] std::size_t size() const override {
        return static_cast<std::size_t>(sqlite3_column_count(statement_));
    }
    [[nodiscard]] bool isNull(std::size_t column) const override {
        return sqlite3_column_type(statement_, static_cast<int>(column)) == SQLITE_NULL;
    }
    [[nodiscard]] std::string_view text(std::size_t column) const override {
        const int at = static_cast<int>(column);
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, at));
        return bytes == nullptr
                   ? std::string_view()
                   : std::string_view(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_, at)));
    }

private:
    sqlite3_stmt* statement_;
};

void bind(sqlite3_stmt* statement, std::span<const Value> values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& value = values[i];
        const int at = static_cast<int>(i) + 1;
        switch (value.type) {
            case Value::Type::null: (void)sqlite3_bind_null(statement, at); break;
            case Value::Type::integer: (void)sqlite3_bind_int64(statement, at, value.integer); break;
            case Value::Type::text:
                // The value outlives the step, so SQLite need not copy the bytes.
                (void)sqlite3_bind_text64(statement, at, value.text.data(), value.text.size(), SQLITE_STATIC,
                                          SQLITE_UTF8);
                break;
        }
    }
}

class SqliteDatabase;

class SqliteLoad final : public BulkLoad {
public:
    SqliteLoad(SqliteDatabase& db, sqlite3_stmt* insert) : db_(db), insert_(insert) {}
    Status add(std::span<const Value> row) override;
    Status finish() override { return Status::ok(); }

private:
    SqliteDatabase& db_;
    sqlite3_stmt* insert_;
};

class SqliteDatabase final : public Database {
public:
    SqliteDatabase(std::string path, Handle db, int waitSeconds, bool made)
        : path_(std::move(path)), db_(std::move(db)), waitSeconds_(waitSeconds), made_(made) {}

    ~SqliteDatabase() override {
        statements_.clear();
        if (made_ && !committed_) {
            // A database this run made and never filled is not left behind: an empty file
            // would pass for one on the next run, and a full disk would keep it.
            db_.reset();
            std::error_code ignored;
            std::filesystem::remove(nativePath(path_ + "-journal"), ignored);
            std::filesystem::remove(nativePath(path_), ignored);
        }
    }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    SqliteDatabase(SqliteDatabase&&) = delete;
    SqliteDatabase& operator=(SqliteDatabase&&) = delete;

    [[nodiscard]] const Dialect& dialect() const override { return kSqlite; }
    [[nodiscard]] const std::string& name() const override { return path_; }
    [[nodiscard]] bool made() const override { return made_; }

    Status runStatement(std::string_view sql, std::span<const Value> values, const RowReader& reader,
                        std::uint64_t* changed) override {
        sqlite3_stmt* statement = nullptr;
        if (Status prepared = prepare(sql, statement); !prepared.isOk()) {
            return prepared;
        }
        bind(statement, values);
        const SqliteRow row(statement);
        int code = SQLITE_OK;
        bool more = true;
        while (more && (code = sqlite3_step(statement)) == SQLITE_ROW) {
            more = !reader || reader(row);
        }
        (void)sqlite3_reset(statement);
        (void)sqlite3_clear_bindings(statement);
        if (code != SQLITE_DONE && code != SQLITE_ROW) {
            return failure(code);
        }
        if (changed != nullptr) {
            *changed = static_cast<std::uint64_t>(sqlite3_changes64(db_.get()));
        }
        return Status::ok();
    }

    Result<std::unique_ptr<BulkLoad>> load(std::string_view table, std::string_view columns,
                                           std::span<const bool> integers, bool /*madeHere*/) override {
        std::string sql = "INSERT INTO " + std::string(table) + " (" + std::string(columns) + ") VALUES (";
        for (std::size_t i = 0; i < integers.size(); ++i) {
            sql.append(i == 0 ? "?" : ", ?");
        }
        sqlite3_stmt* insert = nullptr;
        if (Status prepared = prepare(sql.append(")"), insert); !prepared.isOk()) {
            return prepared;
        }
        return std::unique_ptr<BulkLoad>(std::make_unique<SqliteLoad>(*this, insert));
    }

    Status beginRead() override { return transaction("BEGIN", State::reading); }
    Status beginStaging() override {
        Status status = execute(kStagingCache);
        return status.isOk() ? transaction("BEGIN", State::staging) : status;
    }
    Status beginWrite() override {
        if (state_ == State::staging) {
            if (Status staged = execute("COMMIT"); !staged.isOk()) {
                return staged;
            }
            state_ = State::none;
        }
        // Takes the write lock at once, waiting up to the busy timeout.
        return transaction("BEGIN IMMEDIATE", State::writing);
    }
    Status commit() override {
        Status status = execute("COMMIT");
        if (status.isOk()) {
            committed_ = committed_ || state_ == State::writing;
            state_ = State::none;
        }
        return status;
    }
    void rollback() override {
        if (sqlite3_get_autocommit(db_.get()) == 0) {
            (void)sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        state_ = State::none;
    }

    Status tableExists(std::string_view table, bool& exists) override {
        std::int64_t count = 0;
        const std::array values{Value::of(table)};
        Status status = number("SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = ?",
                               count, 0, values);
        exists = count > 0;
        return status;
    }
    Status uniqueOn(std::string_view table, std::string_view column, bool& unique) override {
        std::int64_t found = 0;
        const std::array values{Value::of(table), Value::of(column)};
        Status status = number(
            "SELECT count(*) FROM pragma_index_list(?1, 'main') AS list WHERE list.\"unique\" AND NOT "
            "list.partial "
            "AND (SELECT group_concat(info.name) FROM pragma_index_info(list.name) AS info) = ?2",
            found, 0, values);
        unique = found > 0;
        return status;
    }
    Status grantAsOn(std::string_view /*from*/, std::string_view /*to*/, bool /*inStep*/) override {
        return Status::ok();
    }
    Status schemaVersion(int& version) override {
        std::int64_t read = 0;
        Status status = number("PRAGMA main.user_version", read);
        version = static_cast<int>(read);
        return status;
    }
    Status setSchemaVersion(int version) override {
        return execute("PRAGMA main.user_version = " + std::to_string(version));
    }

    Status failure(int code) const {
        return Status::failure(codeOf(code), path_ + ": " + reasonOf(db_.get(), code, waitSeconds_));
    }

    // Content deleted or overwritten is zeroed in the file, so that an answer erased on request
    // leaves no trace in it, nor does one a correction replaced before.
    Status prepareWriting() {
        return execute("PRAGMA main.synchronous = FULL; PRAGMA main.secure_delete = ON; " +
                       std::string(kWriteCache));
    }

private:
    enum class State : unsigned char { none, reading, staging, writing };

    Status transaction(std::string_view begin, State state) {
        Status status = execute(begin);
        state_ = status.isOk() ? state : state_;
        return status;
    }

    Status execute(std::string_view sql) {
        const int code = sqlite3_exec(db_.get(), std::string(sql).c_str(), nullptr, nullptr, nullptr);
        return code == SQLITE_OK ? Status::ok() : failure(code);
    }

    // Statements are prepared once and kept: the same few run again and again.
    Status prepare(std::string_view sql, sqlite3_stmt*& statement) {
        const auto found = statements_.find(sql);
        if (found != statements_.end()) {
            statement = found->second.get();
            return Status::ok();
        }
        sqlite3_stmt* prepared = nullptr;
        const int code = sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()),
                                            SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
        Statement owned(prepared);
        if (code != SQLITE_OK) {
            return failure(code);
        }
        statement = prepared;
        statements_.emplace(std::string(sql), std::move(owned));
        return Status::ok();
    }

    std::string path_;
    Handle db_;  // declared before the statements, so closed after them
    std::map<std::string, Statement, std::less<>> statements_;
    int waitSeconds_;
    bool made_;
    bool committed_ = false;
    State state_ = State::none;
};

Status SqliteLoad::add(std::span<const Value> row) {
    bind(insert_, row);
    const int code = sqlite3_step(insert_);
    (void)sqlite3_reset(insert_);
    return code == SQLITE_DONE ? Status::ok() : db_.failure(code);
}

}  // namespace

Result<std::unique_ptr<Database>> openSqlite(const std::string& path, Access access,
                                             const OpenOptions& options) {
    std::error_code error;
    const std::filesystem::file_status found = std::filesystem::status(nativePath(path), error);
    if (std::filesystem::is_directory(found)) {
        return Status::usage(path + ": is a folder, not a database");
    }
    const bool exists = std::filesystem::exists(found);
    if (access == Access::read && !exists) {
        // Read-only: a name mistyped is told, never made into a new, empty database.
        return Status::failure(Status::Code::notFound, path + ": no such database");
    }
    const int flags =
        (access == Access::read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX;
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Handle db(raw);
    if (code != SQLITE_OK) {
        return Status::failure(codeOf(code), path + ": " + reasonOf(db.get(), code, options.waitSeconds));
    }
    (void)sqlite3_busy_timeout(db.get(), options.waitSeconds * 1000);
    if (access == Access::read) {
        return std::unique_ptr<Database>(
            std::make_unique<SqliteDatabase>(path, std::move(db), options.waitSeconds, false));
    }
    // SQLite opens a file it may not write for reading only, and says nothing.
    if (sqlite3_db_readonly(db.get(), "main") == 1) {
        return Status::failure(Status::Code::accessDenied, path + ": the database is read-only");
    }
    // ":memory:", "" and a memory URI open a database that is gone when the run ends.
    if (const char* file = sqlite3_db_filename(db.get(), "main"); file == nullptr || *file == '\0') {
        return Status::usage(std::string(options.option) + " '" + path +
                             "' names a database that is gone when the run ends; name a file");
    }
    auto database = std::make_unique<SqliteDatabase>(path, std::move(db), options.waitSeconds, !exists);
    if (Status status = database->prepareWriting(); !status.isOk()) {
        return status;
    }
    return std::unique_ptr<Database>(std::move(database));
}

}  // namespace profiledesk::office::db
