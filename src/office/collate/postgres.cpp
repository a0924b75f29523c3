// Collating into PostgreSQL, with libpq: the rows go by COPY into a temporary table, then
// into `records` by one INSERT that skips the keys already there, all in one transaction. Into
// a records table the run makes, they go by COPY straight in (see start()).

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.hpp"
#include "office/collate/run_sql.hpp"
#include "office/collate/target.hpp"
#include "office/db/postgres_connect.hpp"
#include "office/db/schema.hpp"

namespace profiledesk::office {

namespace {

// Taken by the run that creates the table, so that two first runs do not both create it.
constexpr std::string_view kSchemaLock = "SELECT pg_advisory_xact_lock(7236828425061003621)";
// Taken by a run before its rows go into an existing table.
constexpr std::string_view kInsertLock = "SELECT pg_advisory_xact_lock(7236828425061003622)";

// Rows go to the server in pieces of this size: small enough that the socket's buffer keeps
// the server busy while the next piece is read (256 KiB pieces made the two take turns).
constexpr std::size_t kCopyPiece = std::size_t{32} << 10;

// The figures stay text, exactly as the record writes them ("1.52416e+12", "inf"). Keys
// compare as bytes, whatever the database's locale: quicker, and they are hex.
constexpr SqlTypes kTypes{"TEXT", "BIGINT", "TEXT", "TEXT COLLATE \"C\" NOT NULL"};
const SqlDialect kPostgres{"BIGINT", "TEXT COLLATE \"C\"", false};

// "records", or another of the run's tables, for a statement.
std::string named(std::string_view table) { return std::string(table); }

class PostgresTarget final : public CollateTarget {
public:
    PostgresTarget(Connection connection, std::string server, bool keepBytes)
        : connection_(std::move(connection)), server_(std::move(server)), keepBytes_(keepBytes) {
        buffer_.reserve(kCopyPiece + (kCopyPiece >> 2));
    }

    // Opens the transaction and creates the tables where they are missing.
    Status begin() {
        Status done = run("BEGIN");
        bool missing = false;
        if (done.isOk()) {
            done = tablesMissing(missing);
        }
        if (done.isOk() && missing) {
            // Another first run may be creating them: wait for that one to end, then look again.
            done = run(kSchemaLock, PGRES_TUPLES_OK);
            if (done.isOk()) {
                done = tablesMissing(missing);
            }
            bool records = false;
            bool counts = false;
            if (done.isOk() && missing) {
                done = tableMissing(named(kRecordsTable), records);
            }
            if (done.isOk() && missing) {
                done = tableMissing(named("collate_counts"), counts);
            }
            if (done.isOk() && records) {
                // Its indexes come after the rows.
                done = run("CREATE TABLE " + named(kRecordsTable) + " " + columnDefinitions(kTypes));
                created_ = true;
            }
            if (done.isOk() && missing) {
                countsKeyLater_ = records && counts;
                done = runAll(checkpointTables(kPostgres, !countsKeyLater_));
            }
        }
        return done;
    }

    // Reads the checkpoints, then starts the COPY of the rows into a table of their own.
    Status start(const std::vector<std::string>& sources,
                 std::vector<std::optional<Checkpoint>>& found) override {
        found.assign(sources.size(), std::nullopt);
        // A records table made by this run holds nothing the checkpoints speak of.
        Status done = created_ ? runAll(forgetCheckpoints()) : Status::ok();
        for (std::size_t i = 0; !created_ && done.isOk() && i < sources.size(); ++i) {
            const std::array<const char*, 1> values{sources[i].c_str()};
            const PgResult result(
                PQexecParams(connection_.get(),
                             "SELECT byte_offset, records, lines, tail_length, tail_hash FROM "
                             "collate_checkpoints WHERE source = $1",
                             1, nullptr, values.data(), nullptr, nullptr, 0));
            if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
                done = failure(result.get());
            } else if (PQntuples(result.get()) == 1) {
                const auto whole = [&result](int column) {
                    return std::strtoull(PQgetvalue(result.get(), 0, column), nullptr, 10);
                };
                found[i] = Checkpoint{whole(0), whole(1), whole(2), whole(3), PQgetvalue(result.get(), 0, 4)};
            }
        }
        // Into a table of its own, where each file has a name of its own, a row is keyed as the
        // first of its content in its file, and goes straight in: written once instead of twice.
        // The few keys that are not so are mended once the rows are in (see keyDirectRows()).
        direct_ = created_ && std::set<std::string>(sources.begin(), sources.end()).size() == sources.size();
        if (done.isOk() && !direct_) {
            done = run("CREATE TEMP TABLE incoming (" + valueDefinitions(kTypes) +
                       ", file BIGINT NOT NULL, content TEXT COLLATE \"C\" NOT NULL) ON COMMIT DROP");
        }
        if (done.isOk()) {
            done = run(runFilesTable(kPostgres));
        }
        if (done.isOk()) {
            // Binary: the server reads lengths instead of looking for delimiters and escapes.
            done = run(
                direct_
                    ? "COPY " + named(kRecordsTable) + " (" + columnList() + ") FROM STDIN (FORMAT binary)"
                    : "COPY incoming (" + valueColumns() + ", file, content) FROM STDIN (FORMAT binary)",
                PGRES_COPY_IN);
        }
        if (done.isOk()) {
            constexpr std::string_view kHeader{"PGCOPY\n\xFF\r\n\0\0\0\0\0\0\0\0\0", 19};
            buffer_.append(kHeader);
        }
        return done;
    }

    Status add(const Row& row, std::string_view content, std::uint32_t file) override {
        notes_.clear();
        appendNumber(static_cast<std::uint16_t>(direct_ ? kColumnCount + 1 : kColumnCount + 2));
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (kColumns.at(i).kind == ColumnKind::whole) {
                std::uint64_t number = 0;
                std::from_chars(row.values.at(i).data(), row.values.at(i).data() + row.values.at(i).size(),
                                number);
                appendNumber(std::uint32_t{8});
                appendNumber(number);
            } else {
                appendText(row.values.at(i), i);
            }
        }
        if (direct_) {
            key_.assign(content).append("-1");
            appendText(key_, kColumnCount);
        } else {
            appendNumber(std::uint32_t{8});
            appendNumber(std::uint64_t{file});
            appendText(content, kColumnCount);
        }
        ++rows_;
        return buffer_.size() >= kCopyPiece ? send() : Status::ok();
    }

    void endFile(FileRun file) override { files_.push_back(std::move(file)); }

    std::span<const Note> lastNotes() const override { return notes_; }

    Status commit(CollateCounts& counts) override {
        appendNumber(std::uint16_t{0xFFFF});  // the end of the rows
        Status done = send();
        if (done.isOk() && PQputCopyEnd(connection_.get(), nullptr) != 1) {
            done = failure(nullptr);
        }
        if (done.isOk()) {
            const PgResult copied(PQgetResult(connection_.get()));
            if (PQresultStatus(copied.get()) != PGRES_COMMAND_OK) {
                done = failure(copied.get());
            }
            for (PgResult rest(PQgetResult(connection_.get())); rest;
                 rest.reset(PQgetResult(connection_.get()))) {
            }
        }
        if (done.isOk()) {
            done = stageFiles();
        }
        // One run adds at a time: two inserting the same keys in different orders would wait on
        // each other, and the checkpoints of one would not see the other's. An advisory lock,
        // unlike LOCK TABLE, needs no right beyond INSERT; readers are not held up by it.
        if (done.isOk() && !created_) {
            done = run(kInsertLock, PGRES_TUPLES_OK);
        }
        if (done.isOk()) {
            done = checkUnmoved();
        }
        std::uint64_t added = direct_ ? rows_ : 0;
        if (done.isOk() && direct_) {
            done = keyDirectRows(added);
        } else if (done.isOk()) {
            done = runAll(insertRows(kPostgres, !created_), &added);
            if (done.isOk() && created_) {
                done = uniqueFirstByPlace(added);
            }
            if (done.isOk()) {
                done = runAll(keepCounts(created_));
            }
        }
        if (done.isOk() && countsKeyLater_) {
            done = run(std::string("ALTER TABLE collate_counts ADD ") + kCountsKey);
        }
        if (done.isOk() && created_) {
            done = run("CREATE INDEX " + named(kDayIndex) + " ON " + named(kRecordsTable) + " (" +
                       named(kDayIndexColumn) + ")");
        }
        if (done.isOk()) {
            done = runAll(keepCheckpoints());
        }
        if (done.isOk()) {
            done = run("COMMIT");
        }
        if (done.isOk()) {
            counts.added = added;
            counts.present = rows_ - added;
        }
        return done;
    }

private:
    Status failure(const PGresult* result) const {
        const char* primary =
            result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        return Status::failure(
            server_ + ": " +
            (primary != nullptr ? std::string(primary) : oneLine(PQerrorMessage(connection_.get()))));
    }

    // `rows` becomes what the statement changed, or loses it where `fewer`.
    Status run(const std::string_view statement, ExecStatusType expected = PGRES_COMMAND_OK,
               std::uint64_t* rows = nullptr, bool fewer = false, std::string* state = nullptr) {
        const PgResult result(PQexec(connection_.get(), std::string(statement).c_str()));
        if (PQresultStatus(result.get()) != expected) {
            if (state != nullptr) {
                *state = orEmpty(PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
            }
            return failure(result.get());
        }
        if (rows != nullptr) {
            const std::uint64_t changed = std::strtoull(PQcmdTuples(result.get()), nullptr, 10);
            *rows = fewer ? *rows - changed : changed;
        }
        return Status::ok();
    }

    // Each in turn, up to the first that fails; `rows` is what the last one changed.
    Status runAll(const std::vector<std::string>& statements, std::uint64_t* rows = nullptr) {
        for (const std::string& statement : statements) {
            if (Status done = run(statement, PGRES_COMMAND_OK, rows); !done.isOk()) {
                return done;
            }
        }
        return Status::ok();
    }

    // The unique index of a table made by this run comes after its rows: a sorted build instead
    // of one insertion a row. A record twice in the run (a file named twice) is kept once: the
    // row that went in first.
    Status uniqueFirstByPlace(std::uint64_t& added) {
        const std::string table = named(kRecordsTable);
        const std::string key = named(kKeyColumn);
        return addUnique([&] {
            return run("DELETE FROM " + table + " later USING " + table + " first WHERE later." + key +
                           " = first." + key + " AND later.ctid > first.ctid",
                       PGRES_COMMAND_OK, &added, true);
        });
    }

    // The rows that went straight in, each keyed as the first of its content in its file: where
    // every key is then distinct, as in most runs, they are right as they are. Otherwise the
    // later records of one content in a file are numbered on, and of a record in several files
    // the earliest file's row is kept. Each file has a source of its own here, and each of its
    // records a number of its own.
    Status keyDirectRows(std::uint64_t& added) {
        const std::string table = named(kRecordsTable);
        const std::string key = named(kKeyColumn);
        const std::string content = "split_part(r." + key + ", '-', 1)";
        const std::string kept = " FROM " + table +
                                 " r JOIN run_files f ON f.source = r.source WHERE f.keeps = 1 "
                                 "AND f.to_offset IS NOT NULL";
        bool distinct = true;
        Status done = addUnique([&] {
            distinct = false;
            // Counted before a row is numbered on or dropped: each file's records of each content.
            Status mended = run("INSERT INTO collate_counts (source, content, times) SELECT r.source, " +
                                content + ", count(*)" + kept + " GROUP BY 2, 1");
            if (mended.isOk()) {
                mended = run("UPDATE " + table + " r SET " + key + " = " + content +
                             " || '-' || n.ordinal FROM (SELECT ctid AS at, " +
                             "row_number() OVER (PARTITION BY " + key +
                             ", source ORDER BY record) AS ordinal FROM " + table +
                             ") AS n WHERE n.ordinal > 1 AND r.ctid = n.at");
            }
            // One file has no record in another.
            return mended.isOk() && files_.size() > 1
                       ? run("DELETE FROM " + table + " later USING " + table +
                                 " first, run_files fl, run_files ff WHERE later." + key + " = first." + key +
                                 " AND fl.source = later.source AND ff.source = first.source AND ff.file < "
                                 "fl.file",
                             PGRES_COMMAND_OK, &added, true)
                       : mended;
        });
        if (done.isOk() && distinct) {
            done = run("INSERT INTO collate_counts (source, content, times) SELECT r.source, " + content +
                       ", 1" + kept);
        }
        return done;
    }

    // Adds the unique index; where two rows share a key, `mend` makes them right first.
    template <typename Mend>
    Status addUnique(Mend mend) {
        const std::string addUnique =
            "ALTER TABLE " + named(kRecordsTable) + " ADD UNIQUE (" + named(kKeyColumn) + ")";
        Status done = run("SAVEPOINT rows_in");
        std::string state;
        if (done.isOk()) {
            done = run(addUnique, PGRES_COMMAND_OK, nullptr, false, &state);
        }
        if (!done.isOk() && state == "23505") {  // unique_violation
            done = run("ROLLBACK TO SAVEPOINT rows_in");
            done = done.isOk() ? mend() : done;
            done = done.isOk() ? run(addUnique) : done;
        }
        return done;
    }

    Status tableMissing(const std::string& name, bool& missing) {
        // Read from the catalog itself: its cache would not know yet of a table that another
        // run made while this one waited for the lock.
        const std::array<const char*, 1> values{name.c_str()};
        const PgResult result(
            PQexecParams(connection_.get(),
                         "SELECT NOT EXISTS (SELECT FROM pg_catalog.pg_class WHERE relname = $1 "
                         "AND relnamespace = current_schema()::regnamespace)",
                         1, nullptr, values.data(), nullptr, nullptr, 0));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
            return failure(result.get());
        }
        missing = std::string_view(PQgetvalue(result.get(), 0, 0)) == "t";
        return Status::ok();
    }

    Status tablesMissing(bool& missing) {
        missing = false;
        Status done = Status::ok();
        for (const std::string& name :
             {named(kRecordsTable), named("collate_checkpoints"), named("collate_counts")}) {
            bool one = false;
            done = done.isOk() ? tableMissing(name, one) : done;
            missing = missing || one;
        }
        return done;
    }

    // The run's files, once the COPY is over.
    Status stageFiles() {
        const std::string insert = runFilesInsert(kPostgres);
        Status done = Status::ok();
        for (std::size_t i = 0; done.isOk() && i < files_.size(); ++i) {
            const FileRun& file = files_[i];
            const bool last =
                std::none_of(files_.begin() + static_cast<std::ptrdiff_t>(i) + 1, files_.end(),
                             [&file](const FileRun& later) { return later.source == file.source; });
            std::array<std::optional<std::string>, kRunFilesColumns> texts{
                std::to_string(i), file.source, file.fromStart ? "1" : "0", file.keeps && last ? "1" : "0"};
            if (file.from) {
                texts[4] = std::to_string(file.from->offset);
                texts[5] = std::to_string(file.from->records);
                texts[6] = file.from->tail;
            }
            if (file.reached) {
                texts[7] = std::to_string(file.reached->offset);
                texts[8] = std::to_string(file.reached->records);
                texts[9] = std::to_string(file.reached->lines);
                texts[10] = std::to_string(file.reached->tailLength);
                texts[11] = file.reached->tail;
            }
            std::array<const char*, kRunFilesColumns> values{};
            for (std::size_t v = 0; v < values.size(); ++v) {
                values.at(v) = texts.at(v) ? texts.at(v)->c_str() : nullptr;
            }
            const PgResult result(PQexecParams(connection_.get(), insert.c_str(), kRunFilesColumns, nullptr,
                                             values.data(), nullptr, nullptr, 0));
            if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
                done = failure(result.get());
            }
        }
        return done;
    }

    Status checkUnmoved() {
        const PgResult result(PQexec(connection_.get(), movedCheckpoint().c_str()));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
            return failure(result.get());
        }
        if (PQntuples(result.get()) > 0) {
            return Status::failure(std::string(PQgetvalue(result.get(), 0, 0)) +
                                   ": collated by another run meanwhile; nothing was added, run again");
        }
        return Status::ok();
    }

    Status send() {
        if (!buffer_.empty() &&
            PQputCopyData(connection_.get(), buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
            return failure(nullptr);
        }
        buffer_.clear();
        return Status::ok();
    }

    // A number as COPY's binary format has it: big-endian, appended at once.
    template <typename Number>
    void appendNumber(Number number) {
        std::array<char, sizeof(Number)> bytes{};
        bigEndian(static_cast<std::uint64_t>(number), bytes);
        buffer_.append(bytes.data(), bytes.size());
    }

    template <std::size_t Size>
    static void bigEndian(std::uint64_t number, std::array<char, Size>& bytes) {
        for (std::size_t i = 0; i < Size; ++i) {
            bytes.at(i) = static_cast<char>((number >> (8 * (Size - 1 - i))) & 0xFFU);
        }
    }

    // One text value, after its length. A text column holds no NUL byte and, in a UTF-8
    // database, only UTF-8: anything else is stored as U+FFFD, and noted.
    void appendText(std::string_view value, std::size_t column) {
        const std::size_t lengthAt = buffer_.size();
        appendNumber(std::uint32_t{0});
        const Replaced replaced = replaceNotUtf8(
            buffer_, value, [](std::string_view character) { return character.front() == '\0'; }, keepBytes_);
        const std::string_view what = replaced.notUtf8    ? "not UTF-8"
                                      : replaced.unwanted ? "a NUL byte, stored as U+FFFD"
                                                          : "";
        if (!what.empty() &&
            (notes_.empty() || notes_.back().column != column || notes_.back().what != what)) {
            notes_.push_back({column, what});
        }
        std::array<char, 4> length{};
        bigEndian(buffer_.size() - lengthAt - length.size(), length);
        buffer_.replace(lengthAt, length.size(), length.data(), length.size());
    }

    Connection connection_;
    std::string server_;
    bool keepBytes_;  // a SQL_ASCII database takes any bytes but NUL
    std::string buffer_;
    std::uint64_t rows_ = 0;
    std::vector<Note> notes_;
    bool created_ = false;         // the table is this run's own, not yet seen by others
    bool direct_ = false;          // the rows go straight into it
    bool countsKeyLater_ = false;  // the counts table is the run's own too, made without its key
    std::string key_;
    std::vector<FileRun> files_;
};

void ignoreNotice(void* /*unused*/, const char* /*unused*/) {}

}  // namespace

OpenedTarget openPostgresTarget(const std::string& connection) {
    OpenedTarget opened;
    OpenedConnection connected = connectPostgres(connection, "--into");
    if (!connected.connection) {
        opened.status = connected.status;
        return opened;
    }
    Connection opening = std::move(connected.connection);
    std::string server = std::move(connected.server);
    PQsetNoticeProcessor(opening.get(), ignoreNotice, nullptr);  // "already exists, skipping"
    // Before anything is read: an answer that a LATIN1 database cannot hold would fail the run
    // at the end, and every later run of that file the same way.
    const std::string_view encoding = orEmpty(PQparameterStatus(opening.get(), "server_encoding"));
    const bool keepBytes = encoding == "SQL_ASCII";
    if (!keepBytes && encoding != "UTF8") {
        opened.status = Status::failure(server + ": the database's encoding is " + std::string(encoding) +
                                        ", which cannot hold every answer; collate into a UTF-8 database "
                                        "(createdb --encoding=UTF8 --template=template0 NAME)");
        return opened;
    }
    if (PQsetClientEncoding(opening.get(), keepBytes ? "SQL_ASCII" : "UTF8") != 0) {
        opened.status = Status::failure(server + ": " + oneLine(PQerrorMessage(opening.get())));
        return opened;
    }
    auto target = std::make_unique<PostgresTarget>(std::move(opening), std::move(server), keepBytes);
    opened.status = target->begin();
    if (opened.status.isOk()) {
        opened.target = std::move(target);
    }
    return opened;
}

}  // namespace profiledesk::office
