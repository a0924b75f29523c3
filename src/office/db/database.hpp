#pragma once

// The office's database, one seam for every kind: SQLite files and PostgreSQL servers each
// give these primitives (statements with bound values, rows read one at a time, bulk loads,
// transactions, the schema's version), and every rule the records tool keeps in a database
// (the schema and its migrations, collating, reading back, corrections) is written once above
// them, in the dialect each kind describes of itself.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"

namespace profiledesk::office::db {

enum class Kind : unsigned char { sqlite, postgres };

// What differs in the SQL the two kinds take; everything else is written once for both.
struct Dialect {
    Kind kind = Kind::sqlite;
    std::string_view integer;     // a 64-bit integer column
    std::string_view text;        // a text column whose values compare byte by byte
    std::string_view bytesOrder;  // after a column in ORDER BY: byte order whatever the locale
    std::string_view rowLocator;  // names a row's place in its table (rowid, ctid)

    // The n-th placeholder of a statement, from 1: "?" or "$n".
    [[nodiscard]] std::string placeholder(int n) const;
    // A temporary table of the run's own, gone with the connection or the transaction.
    [[nodiscard]] std::string tempTable(std::string_view name, std::string_view columns) const;
};

// A value bound to a statement, or read back: NULL, a whole number, or text with its length
// (any bytes; a kind that cannot hold some refuses them with a message, never cuts them).
struct Value {
    enum class Type : unsigned char { null, integer, text };
    Type type = Type::null;
    std::int64_t integer = 0;
    std::string_view text;

    static Value null() { return {}; }
    static Value of(std::int64_t number) { return {Type::integer, number, {}}; }
    static Value of(std::string_view bytes) { return {Type::text, 0, bytes}; }
};

// A statement put together from its parts, in one allocation.
std::string sqlOf(std::initializer_list<std::string_view> parts);

// Each text as a value, for as long as the texts last.
std::vector<Value> textValues(std::span<const std::string> texts);

// One row of a result; its values last until the call that gives it returns.
class Row {
public:
    Row() = default;
    virtual ~Row() = default;
    Row(const Row&) = delete;
    Row& operator=(const Row&) = delete;
    Row(Row&&) = delete;
    Row& operator=(Row&&) = delete;

    [[nodiscard]] virtual std::size_t size() const = 0;
    [[nodiscard]] virtual bool isNull(std::size_t column) const = 0;
    // The value as text; empty for NULL.
    [[nodiscard]] virtual std::string_view text(std::size_t column) const = 0;
    // The value as a whole number; 0 for NULL or text that is none.
    [[nodiscard]] std::int64_t integer(std::size_t column) const;
};

// Takes each row of a result; returns whether to read on.
using RowReader = std::function<bool(const Row&)>;

// Rows into one table, the quickest way the database takes them (COPY, a prepared insert).
class BulkLoad {
public:
    BulkLoad() = default;
    virtual ~BulkLoad() = default;
    BulkLoad(const BulkLoad&) = delete;
    BulkLoad& operator=(const BulkLoad&) = delete;
    BulkLoad(BulkLoad&&) = delete;
    BulkLoad& operator=(BulkLoad&&) = delete;

    // One row, a value for each column named when the load began; the values need not
    // outlive the call.
    virtual Status add(std::span<const Value> row) = 0;
    // Ends the load; nothing else may run on the database until then.
    virtual Status finish() = 0;
};

enum class Access : unsigned char {
    read,   // never writes, never creates: a name mistyped is told, not made into a database
    write,  // may change it; SQLite makes the file where it is missing
};

class Database {
public:
    Database() = default;
    virtual ~Database() = default;  // what was not committed is undone
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database(Database&&) = delete;
    Database& operator=(Database&&) = delete;

    [[nodiscard]] virtual const Dialect& dialect() const = 0;
    // The database as messages name it: the file, or the server without any password.
    [[nodiscard]] virtual const std::string& name() const = 0;
    // Whether opening it made it: a SQLite file that was not there.
    [[nodiscard]] virtual bool made() const { return false; }

    // One statement, its placeholders bound to `values` in order; each row of its result to
    // `reader`, and `changed` to the rows it changed.
    Status run(std::string_view sql, std::span<const Value> values = {}, const RowReader& reader = {},
               std::uint64_t* changed = nullptr) {
        return runStatement(sql, values, reader, changed);
    }
    // Starts loading rows into `table`'s `columns` (their names, comma-separated) whose kinds
    // are `integers` (true: a whole number) in order. `madeHere`: the table was made by this
    // transaction, which no other sees until it ends.
    virtual Result<std::unique_ptr<BulkLoad>> load(std::string_view table, std::string_view columns,
                                                   std::span<const bool> integers, bool madeHere) = 0;

    // A read sees one state of the database from its start to its end.
    virtual Status beginRead() = 0;
    // Rows staged in temporary tables: nothing that others use is locked meanwhile.
    virtual Status beginStaging() = 0;
    // The one writer at a time, waited for up to the wait the database was opened with;
    // ends staging, keeping what was staged.
    virtual Status beginWrite() = 0;
    virtual Status commit() = 0;
    // Undoes what was not committed; quiet, since it runs after another failure.
    virtual void rollback() = 0;

    [[nodiscard]] virtual Status tableExists(std::string_view table, bool& exists) = 0;
    // Whether a unique index or constraint on `column` alone, for every row, keeps its values
    // apart: what ON CONFLICT on that column needs.
    [[nodiscard]] virtual Status uniqueOn(std::string_view table, std::string_view column, bool& unique) = 0;
    // Gives every role that holds rights on `from` the same rights on `to`, a table made after
    // the office granted them: a clerk who could collate still can once a release adds a table.
    // With `inStep`, a right to change `from` in any way is every right to change `to`. Where the
    // database has no roles (SQLite), nothing.
    virtual Status grantAsOn(std::string_view from, std::string_view to, bool inStep) = 0;
    // The version of the office's schema the database holds: 0 for none.
    virtual Status schemaVersion(int& version) = 0;
    virtual Status setSchemaVersion(int version) = 0;

    // The first value of the first row `sql` gives, as a whole number; `fallback` for none.
    Status number(std::string_view sql, std::int64_t& value, std::int64_t fallback = 0,
                  std::span<const Value> values = {});
    // Each statement in turn, up to the first that fails.
    Status runAll(std::span<const std::string> statements);

protected:
    virtual Status runStatement(std::string_view sql, std::span<const Value> values, const RowReader& reader,
                                std::uint64_t* changed) = 0;
};

struct OpenOptions;
// Opens a database by name, as open() does: a stand-in may wrap what it gives.
using Opener = std::function<Result<std::unique_ptr<Database>>(const std::string& name, Access access,
                                                               const OpenOptions& options)>;

struct OpenOptions {
    std::string_view option;  // "--into", "--from-db": starts a message about the name itself
    int waitSeconds = 5;      // how long a database another program holds is waited for
    // A clerk signing in to the office's view in a browser: the role and password typed in its
    // form, handed to PostgreSQL as they are (never through a command line or a connection text),
    // in place of those the connection names or the environment gives. Empty: none given.
    std::string_view user = {};
    std::string_view password = {};
    // What opens it where a run opens it by name (openOffice): open() where empty.
    Opener opener = {};
};

// Whether `name` names a PostgreSQL server (a postgresql:// URI or a key=value connection
// string that libpq reads) rather than a SQLite file; "office=2026.db" is a file.
bool namesPostgres(std::string_view name);

// Opens the database `name` names, as collate's --into and the readers' --from-db take it.
Result<std::unique_ptr<Database>> open(const std::string& name, Access access, const OpenOptions& options);

// Each kind's own opener, behind open(); a build without libpq has a stand-in for PostgreSQL
// that says so, as Status::Code::unsupported.
Result<std::unique_ptr<Database>> openSqlite(const std::string& path, Access access,
                                             const OpenOptions& options);
Result<std::unique_ptr<Database>> openPostgres(const std::string& connection, Access access,
                                               const OpenOptions& options);

}  // namespace profiledesk::office::db
