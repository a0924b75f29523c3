// The office's database on a PostgreSQL server, with libpq. Results are taken a row at a time
// (single-row mode), so that libpq never holds a whole result; rows are loaded by COPY in its
// binary form; the one writer at a time is an advisory lock, which needs no right beyond
// those on the tables and holds up no reader.

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "office/db/database.hpp"
#include "office/db/postgres_connect.hpp"

namespace profiledesk::office::db {

namespace {

// Keys compare as bytes, whatever the database's locale: quicker, and ordered as SQLite does.
constexpr Dialect kPostgres{Kind::postgres, "BIGINT", "TEXT COLLATE \"C\"", " COLLATE \"C\"", "ctid"};

// Taken by every run that writes, for the whole of its transaction: the same one writer at a
// time as SQLite has, so that two runs never wait on each other's rows in opposite orders.
constexpr std::string_view kWriterLock = "SELECT pg_advisory_xact_lock(7236828425061003622)";

// Rows go to the server in pieces of this size: small enough that the socket's buffer keeps
// the server busy while the next piece is made (256 KiB pieces made the two take turns).
constexpr std::size_t kCopyPiece = std::size_t{32} << 10;

constexpr std::string_view kUniqueViolation = "23505";
constexpr std::string_view kLockNotAvailable = "55P03";
constexpr std::string_view kNoRight = "42501";  // insufficient_privilege: the role may not do it

class PgRow final : public Row {
public:
    explicit PgRow(const PGresult* result) : result_(result) {}
    [[nodiscard]] std::size_t size() const override { return static_cast<std::size_t>(PQnfields(result_)); }
    [[nodiscard]] bool isNull(std::size_t column) const override {
        return PQgetisnull(result_, 0, static_cast<int>(column)) == 1;
    }
    [[nodiscard]] std::string_view text(std::size_t column) const override {
        const int at = static_cast<int>(column);
        return {PQgetvalue(result_, 0, at), static_cast<std::size_t>(PQgetlength(result_, 0, at))};
    }

private:
    const PGresult* result_;
};

// A number as COPY's binary format has it: big-endian.
template <typename Number>
void appendNumber(std::string& out, Number number) {
    std::array<char, sizeof(Number)> bytes{};
    for (std::size_t i = 0; i < sizeof(Number); ++i) {
        bytes.at(i) =
            static_cast<char>((static_cast<std::uint64_t>(number) >> (8 * (sizeof(Number) - 1 - i))) & 0xFFU);
    }
    out.append(bytes.data(), bytes.size());
}

class PgDatabase;

class PgLoad final : public BulkLoad {
public:
    PgLoad(PgDatabase& db, std::vector<bool> integers) : db_(db), integers_(std::move(integers)) {
        buffer_.reserve(kCopyPiece + (kCopyPiece >> 2));
        constexpr std::string_view kHeader{"PGCOPY\n\xFF\r\n\0\0\0\0\0\0\0\0\0", 19};
        buffer_.append(kHeader);
    }
    Status add(std::span<const Value> row) override;
    Status finish() override;

private:
    Status send();

    PgDatabase& db_;
    std::vector<bool> integers_;
    std::string buffer_;
    bool finished_ = false;
};

class PgDatabase final : public Database {
public:
    PgDatabase(PgConnection connection, std::string server, int waitSeconds)
        : connection_(std::move(connection)), server_(std::move(server)), waitSeconds_(waitSeconds) {}

    [[nodiscard]] const Dialect& dialect() const override { return kPostgres; }
    [[nodiscard]] const std::string& name() const override { return server_; }

    Status runStatement(std::string_view sql, std::span<const Value> values, const RowReader& reader,
                        std::uint64_t* changed) override {
        std::vector<std::string> texts(values.size());
        std::vector<const char*> pointers(values.size(), nullptr);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const Value& value = values[i];
            if (value.type == Value::Type::integer) {
                texts[i] = std::to_string(value.integer);
            } else if (value.type == Value::Type::text) {
                if (value.text.find('\0') != std::string_view::npos) {
                    return Status::failure(server_ +
                                           ": a value holds a NUL byte, which PostgreSQL cannot store");
                }
                texts[i].assign(value.text);
            }
            pointers[i] = value.type == Value::Type::null ? nullptr : texts[i].c_str();
        }
        PGconn* const db = connection_.get();
        const std::string statement(sql);
        if (PQsendQueryParams(db, statement.c_str(), static_cast<int>(values.size()), nullptr,
                              pointers.data(), nullptr, nullptr, 0) == 0 ||
            (reader && PQsetSingleRowMode(db) == 0)) {
            return failure(nullptr);
        }
        // Every result is taken, a failure's too, so that the connection is ready for the next.
        Status status = Status::ok();
        bool more = true;
        while (const PgResult result{PQgetResult(db)}) {
            const ExecStatusType state = PQresultStatus(result.get());
            if (state == PGRES_SINGLE_TUPLE) {
                more = more && status.isOk() && reader(PgRow(result.get()));
            } else if (state == PGRES_TUPLES_OK || state == PGRES_COMMAND_OK) {
                if (changed != nullptr) {
                    *changed = std::strtoull(PQcmdTuples(result.get()), nullptr, 10);
                }
            } else if (status.isOk()) {
                status = failure(result.get());
            }
        }
        return status;
    }

    Result<std::unique_ptr<BulkLoad>> load(std::string_view table, std::string_view columns,
                                           std::span<const bool> integers, bool madeHere) override {
        // Binary: the server reads lengths instead of looking for delimiters and escapes. Into
        // a table of this transaction's own, frozen: its rows are then visible to all as they are
        // written, so the next run counts a desk's rows by the index alone, with no VACUUM first.
        const std::string copy = "COPY " + std::string(table) + " (" + std::string(columns) +
                                 ") FROM STDIN (FORMAT binary" + (madeHere ? ", FREEZE)" : ")");
        const PgResult started(PQexec(connection_.get(), copy.c_str()));
        if (PQresultStatus(started.get()) != PGRES_COPY_IN) {
            return failure(started.get());
        }
        return std::unique_ptr<BulkLoad>(
            std::make_unique<PgLoad>(*this, std::vector<bool>(integers.begin(), integers.end())));
    }

    Status beginRead() override { return run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); }
    Status beginStaging() override {
        inTransaction_ = true;
        return run("BEGIN");
    }
    Status beginWrite() override {
        Status status = inTransaction_ ? Status::ok() : run("BEGIN");
        inTransaction_ = true;
        // Waiting for another writer is bounded as SQLite's busy timeout bounds it; the
        // setting lasts until the transaction ends.
        if (status.isOk()) {
            status = run("SET LOCAL lock_timeout = '" + std::to_string(waitSeconds_) + "s'");
        }
        return status.isOk() ? run(kWriterLock) : status;
    }
    Status commit() override {
        inTransaction_ = false;
        return run("COMMIT");
    }
    void rollback() override {
        inTransaction_ = false;
        const PgResult ignored(PQexec(connection_.get(), "ROLLBACK"));
    }

    Status tableExists(std::string_view table, bool& exists) override {
        // Read from the catalog itself: its cache would not know yet of a table that another
        // run made while this one waited for the lock.
        std::int64_t found = 0;
        const std::array values{Value::of(table)};
        Status status = number(
            "SELECT count(*) FROM pg_catalog.pg_class WHERE relname = $1 "
            "AND relnamespace = current_schema()::regnamespace",
            found, 0, values);
        exists = found > 0;
        return status;
    }
    Status uniqueOn(std::string_view table, std::string_view column, bool& unique) override {
        std::int64_t found = 0;
        const std::array values{Value::of(table), Value::of(column)};
        Status status = number(
            "SELECT count(*) FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = i.indkey[0] "
            "WHERE c.relname = $1 AND c.relnamespace = current_schema()::regnamespace AND i.indisunique "
            "AND i.indnkeyatts = 1 AND i.indpred IS NULL AND a.attname = $2",
            found, 0, values);
        unique = found > 0;
        return status;
    }
    Status grantAsOn(std::string_view from, std::string_view to, bool inStep) override {
        std::vector<std::pair<std::string, std::string>> grants;
        const std::array values{Value::of(from)};
        Status status =
            run("SELECT quote_ident(grantee), privilege_type FROM information_schema.role_table_grants WHERE "
                "table_schema = current_schema() AND table_name = $1 AND grantee <> current_user",
                values, [&grants](const Row& row) {
                    grants.emplace_back(row.text(0), row.text(1));
                    return true;
                });
        for (auto& [grantee, privilege] : grants) {
            if (inStep && (privilege == "INSERT" || privilege == "UPDATE" || privilege == "DELETE")) {
                privilege = "SELECT, INSERT, UPDATE, DELETE";
            }
            status = status.isOk() ? run(sqlOf({"GRANT ", privilege, " ON ", to, " TO ", grantee})) : status;
        }
        return status;
    }
    Status schemaVersion(int& version) override {
        bool kept = false;
        Status status = tableExists("profiledesk_schema", kept);
        std::int64_t read = 0;
        if (status.isOk() && kept) {
            status = number("SELECT max(version) FROM profiledesk_schema", read);
        }
        version = static_cast<int>(read);
        return status;
    }
    Status setSchemaVersion(int version) override {
        bool kept = false;
        Status status = tableExists("profiledesk_schema", kept);
        if (status.isOk() && !kept) {
            // Every clerk's run reads it, whatever rights the office gave each on its tables.
            status = run("CREATE TABLE profiledesk_schema (version INTEGER NOT NULL)");
            status = status.isOk() ? run("GRANT SELECT ON profiledesk_schema TO PUBLIC") : status;
        }
        status = status.isOk() ? run("DELETE FROM profiledesk_schema") : status;
        const std::array values{Value::of(std::int64_t{version})};
        return status.isOk() ? run("INSERT INTO profiledesk_schema (version) VALUES ($1)", values) : status;
    }

    Status failure(const PGresult* result) const {
        const char* primary =
            result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const std::string_view state =
            result != nullptr ? orEmpty(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : "";
        if (state == kLockNotAvailable) {
            return Status::failure(server_ + ": another run is writing to the database (waited " +
                                   std::to_string(waitSeconds_) + " s)");
        }
        return Status::failure(
            state == kUniqueViolation ? Status::Code::conflict
            : state == kNoRight       ? Status::Code::accessDenied
                                      : Status::Code::ioError,
            server_ + ": " +
                (primary != nullptr ? std::string(primary) : oneLine(PQerrorMessage(connection_.get()))));
    }

    [[nodiscard]] PGconn* connection() const { return connection_.get(); }

private:
    PgConnection connection_;
    std::string server_;
    int waitSeconds_;
    bool inTransaction_ = false;
};

Status PgLoad::add(std::span<const Value> row) {
    appendNumber(buffer_, static_cast<std::uint16_t>(row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) {
        const Value& value = row[i];
        if (value.type == Value::Type::null) {
            appendNumber(buffer_, std::uint32_t{0xFFFFFFFF});
        } else if (integers_.at(i)) {
            appendNumber(buffer_, std::uint32_t{8});
            appendNumber(buffer_, static_cast<std::uint64_t>(value.integer));
        } else {
            if (value.text.find('\0') != std::string_view::npos) {
                return Status::failure(db_.name() +
                                       ": a value holds a NUL byte, which PostgreSQL cannot store");
            }
            appendNumber(buffer_, static_cast<std::uint32_t>(value.text.size()));
            buffer_.append(value.text);
        }
    }
    return buffer_.size() >= kCopyPiece ? send() : Status::ok();
}

Status PgLoad::send() {
    if (!buffer_.empty() &&
        PQputCopyData(db_.connection(), buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
        return db_.failure(nullptr);
    }
    buffer_.clear();
    return Status::ok();
}

Status PgLoad::finish() {
    if (finished_) {
        return Status::ok();
    }
    finished_ = true;
    appendNumber(buffer_, std::uint16_t{0xFFFF});  // the end of the rows
    Status status = send();
    if (status.isOk() && PQputCopyEnd(db_.connection(), nullptr) != 1) {
        status = db_.failure(nullptr);
    }
    while (const PgResult result{PQgetResult(db_.connection())}) {
        if (status.isOk() && PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            status = db_.failure(result.get());
        }
    }
    return status;
}

void ignoreNotice(void* /*unused*/, const char* /*unused*/) {}

}  // namespace

Result<std::unique_ptr<Database>> openPostgres(const std::string& connection, Access access,
                                               const OpenOptions& options) {
    Result<OpenedConnection> connected =
        connectPostgres(connection, options.option, options.user, options.password);
    if (!connected.isOk()) {
        return connected.status();
    }
    OpenedConnection opened = std::move(connected).value();
    PQsetNoticeProcessor(opened.connection.get(), ignoreNotice, nullptr);  // "already exists, skipping"
    // Before anything is read: an answer that a LATIN1 database cannot hold would fail a collate
    // at its end, and every later run of that file the same way.
    const std::string_view encoding = orEmpty(PQparameterStatus(opened.connection.get(), "server_encoding"));
    if (access != Access::read && encoding != "UTF8" && encoding != "SQL_ASCII") {
        return Status::failure(opened.server + ": the database's encoding is " + std::string(encoding) +
                               ", which cannot hold every answer; use a UTF-8 database "
                               "(createdb --encoding=UTF8 --template=template0 NAME)");
    }
    // Every text comes and goes as UTF-8; a SQL_ASCII database keeps the bytes as they are.
    if (PQsetClientEncoding(opened.connection.get(), "UTF8") != 0) {
        return Status::failure(opened.server + ": " + oneLine(PQerrorMessage(opened.connection.get())));
    }
    // No JIT: the planner's estimate of a lookup per staged content (of a table it has no
    // statistics of) passes JIT's threshold, and compiling took half a second of a run that
    // adds one record in 30 ms. Our statements are lookups and plain scans, which JIT hardly
    // speeds.
    const PgResult noJit(PQexec(opened.connection.get(), "SET jit = off"));
    return std::unique_ptr<Database>(std::make_unique<PgDatabase>(
        std::move(opened.connection), std::move(opened.server), options.waitSeconds));
}

}  // namespace profiledesk::office::db
