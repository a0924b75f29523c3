#include "office/db/schema.hpp"

#include <array>

#include "common/utf8.hpp"
#include "office/columns.hpp"

namespace profiledesk::office::db {

namespace {

// The records table's columns: the export's, from the one table of columns, and the key.
constexpr std::array<ColumnDef, kColumnCount + 1> kRecordColumns = [] {
    std::array<ColumnDef, kColumnCount + 1> columns{};
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        columns.at(i) = {kColumns.at(i).name,
                         kColumns.at(i).kind == ColumnKind::whole ? Type::integer : Type::text};
    }
    columns.at(kColumnCount) = {kKeyColumn, Type::text};
    return columns;
}();

constexpr std::array<bool, kColumnCount> kValueIntegers = [] {
    std::array<bool, kColumnCount> integers{};
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        integers.at(i) = kColumns.at(i).kind == ColumnKind::whole;
    }
    return integers;
}();

// The unique key's index is made apart from the table, so that a table made by a collate gets
// it after its rows; release 1.0.0 made the key UNIQUE in the table, which serves the same.
constexpr std::array<IndexDef, 2> kRecordIndexes{{
    {"records_record_key", kKeyColumn, true},
    {"records_entered_at", kDayColumn, false},
}};

constexpr std::array<ColumnDef, 6> kCheckpointColumns{{
    {"source", Type::text},
    {"byte_offset", Type::integer},
    {"records", Type::integer},
    {"lines", Type::integer},
    {"tail_length", Type::integer},
    {"tail_hash", Type::text},
}};

constexpr std::array<ColumnDef, 3> kCountColumns{{
    {"source", Type::text},
    {"content", Type::text},
    {"times", Type::integer},
}};

const TableDef kRecords{kRecordsTable, kRecordColumns, "", kRecordIndexes};
const TableDef kCheckpoints{"collate_checkpoints", kCheckpointColumns, "source", {}};
const TableDef kCounts{"collate_counts", kCountColumns, "source, content", {}, true};
const std::array<const TableDef*, 3> kTables{&kRecords, &kCheckpoints, &kCounts};

std::string_view typeOf(const Dialect& dialect, Type type) {
    return type == Type::integer ? dialect.integer : dialect.text;
}

}  // namespace

const TableDef& recordsTable() { return kRecords; }
const TableDef& checkpointsTable() { return kCheckpoints; }
const TableDef& countsTable() { return kCounts; }
std::span<const TableDef* const> tables() { return kTables; }

std::string createTable(const Dialect& dialect, const TableDef& table, bool ifMissing, bool keyLater) {
    std::string sql = ifMissing ? "CREATE TABLE IF NOT EXISTS " : "CREATE TABLE ";
    sql.append(table.name).append(" (");
    for (const ColumnDef& column : table.columns) {
        sql.append(&column == table.columns.data() ? "" : ", ").append(column.name).append(" ");
        sql.append(typeOf(dialect, column.type)).append(" NOT NULL");
    }
    const bool keyed =
        !table.primaryKey.empty() && (!keyLater || !table.keyAfterRows || dialect.kind == Kind::sqlite);
    if (keyed) {
        sql.append(", PRIMARY KEY (").append(table.primaryKey).append(")");
    }
    sql.append(")");
    // A table that is its key: SQLite then keeps one b-tree instead of two.
    return keyed && dialect.kind == Kind::sqlite ? sql.append(" WITHOUT ROWID") : sql;
}

std::string addPrimaryKey(const TableDef& table) {
    std::string sql("ALTER TABLE ");
    return sql.append(table.name).append(" ADD PRIMARY KEY (").append(table.primaryKey).append(")");
}

std::string createIndex(const TableDef& table, const IndexDef& index, bool ifMissing) {
    std::string sql(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ");
    sql.append(ifMissing ? "IF NOT EXISTS " : "").append(index.name).append(" ON ").append(table.name);
    return sql.append(" (").append(index.columns).append(")");
}

std::string valueColumns() {
    std::string list;
    for (const Column& column : kColumns) {
        list.append(list.empty() ? "" : ", ").append(column.name);
    }
    return list;
}

std::string recordColumns() { return valueColumns().append(", ").append(kKeyColumn); }

std::span<const bool> valueIntegers() { return kValueIntegers; }

std::string storedName(std::string_view name) {
    if (isUtf8(name) && name.find('\0') == std::string_view::npos) {
        return std::string(name);
    }
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string stored;
    for (std::size_t at = 0; at < name.size();) {
        const Utf8Piece piece = utf8PieceAt(name.substr(at));
        const bool escaped = !piece.whole || name[at] == '\0';
        for (std::size_t i = at; i < at + piece.length; ++i) {
            const auto byte = static_cast<unsigned char>(name[i]);
            if (escaped) {
                stored.append("\\x").append(1, kHex[byte >> 4U]).append(1, kHex[byte & 0xFU]);
            } else {
                stored += name[i];
            }
        }
        at += piece.length;
    }
    return stored;
}

}  // namespace profiledesk::office::db
