#include "office/db/schema.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "common/utf8.hpp"
#include "office/columns.hpp"

namespace profiledesk::office::db {

namespace {

// The records table's columns: the export's, from the one table of columns, the key, and the
// office's own, which rows already there take by default.
std::vector<ColumnDef> recordColumnDefs() {
    std::vector<ColumnDef> columns(kColumns.size());
    std::transform(kColumns.begin(), kColumns.end(), columns.begin(), [](const Column& column) {
        return ColumnDef(column.name, column.kind == ColumnKind::whole ? Type::integer : Type::text);
    });
    columns.emplace_back(kKeyColumn, Type::text);
    columns.emplace_back("state", Type::text, "'new'");
    columns.emplace_back("gone", Type::integer, "0");
    columns.emplace_back("forgotten", Type::integer, "0");
    columns.emplace_back("revision", Type::integer, "0");
    columns.emplace_back("looks", Type::text, "''");
    return columns;
}
const std::vector<ColumnDef> kRecordColumns = recordColumnDefs();

// The answers as a desk wrote them, keyed by the record.
constexpr std::array<ColumnDef, 1 + kAnswerCount> kWrittenColumns = [] {
    std::array<ColumnDef, 1 + kAnswerCount> columns{};
    columns.at(0) = {kKeyColumn, Type::text};
    std::size_t at = 1;
    for (const Column& column : kColumns) {
        if (column.source == ColumnSource::answer) {
            columns.at(at++) = {column.name, Type::text};
        }
    }
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
constexpr std::array<IndexDef, 3> kRecordIndexes{{
    {"records_record_key", kKeyColumn, true},
    {"records_entered_at", kDayColumn, false},
    {"records_by_desk", "source, record", false},
}};

constexpr std::array<ColumnDef, 9> kChangeColumns{{
    {"id", Type::serial},
    {"record_key", Type::text},
    {"at", Type::text},  // ISO 8601 in UTC: 2026-12-08T09:30:05Z
    {"by", Type::text},  // the clerk, or the role on PostgreSQL
    {"why", Type::text},
    {"action", Type::text},  // correct, review, forget, reread, gone, back
    {"field", Type::text},   // the answer or "state"; empty for the record as a whole
    {"old_value", Type::text},
    {"new_value", Type::text},
}};
constexpr std::array<IndexDef, 1> kChangeIndexes{{{"record_changes_by_record", "record_key, id", false}}};

constexpr std::array<ColumnDef, 2> kDeskColumns{{
    {"source", Type::text},
    {"encoding", Type::text},
}};

constexpr std::array<ColumnDef, 8> kCheckpointColumns{{
    {"source", Type::text},
    {"byte_offset", Type::integer},
    {"records", Type::integer},
    {"lines", Type::integer},
    {"tail_length", Type::integer},
    {"tail_hash", Type::text},
    {"kept_rows", Type::integer, "0"},
    // The length of the log of rows changed by hand when kept_rows was right; -1 for unknown.
    {"hand_changes", Type::integer, "-1"},
}};

constexpr std::array<ColumnDef, 3> kCountColumns{{
    {"source", Type::text},
    {"content", Type::text},
    {"times", Type::integer},
}};

// The index of answers (answer_index.hpp): each answer once, folded, and where each desk's
// records hold it.
constexpr std::array<ColumnDef, 2> kAnswerValueColumns{{{"value", Type::text}, {"folded", Type::text}}};
constexpr std::array<IndexDef, 1> kAnswerValueIndexes{{{"answer_values_by_value", "value", true}}};
constexpr std::array<ColumnDef, 3> kPostingColumns{{
    {"value", Type::text},
    {"source", Type::text},
    {"records", Type::text},  // record numbers, each as its step from the one before: "4,12,-3"
}};
constexpr std::array<IndexDef, 1> kPostingIndexes{{{"answer_postings_by_value", "value, source", false}}};

const TableDef kRecords{kRecordsTable, kRecordColumns, "", kRecordIndexes, ""};
const TableDef kWritten{"records_as_written", kWrittenColumns, kKeyColumn, {}, kRecordsTable};
const TableDef kChanges{"record_changes", kChangeColumns, "", kChangeIndexes, kRecordsTable};
const TableDef kDesks{"collate_desks", kDeskColumns, "source", {}, "collate_checkpoints"};
const TableDef kCheckpoints{"collate_checkpoints", kCheckpointColumns, "source", {}, ""};
const TableDef kCounts{"collate_counts", kCountColumns, "source, content", {}, ""};
const TableDef kAnswerValues{"answer_values",     kAnswerValueColumns, "",
                             kAnswerValueIndexes, kRecordsTable,       true};
const TableDef kAnswerPostings{"answer_postings", kPostingColumns, "", kPostingIndexes, kRecordsTable, true};
const std::array<const TableDef*, 8> kTables{&kRecords,     &kWritten, &kChanges,      &kDesks,
                                             &kCheckpoints, &kCounts,  &kAnswerValues, &kAnswerPostings};

// A column's type and constraints.
std::string definitionOf(const Dialect& dialect, const ColumnDef& column) {
    std::string definition(column.name);
    if (column.type == Type::serial) {
        return definition.append(dialect.kind == Kind::sqlite
                                     ? " INTEGER NOT NULL PRIMARY KEY"
                                     : " BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    }
    definition.append(" ")
        .append(column.type == Type::integer ? dialect.integer : dialect.text)
        .append(" NOT NULL");
    if (!column.byDefault.empty()) {
        definition.append(" DEFAULT ").append(column.byDefault);
    }
    return definition;
}

}  // namespace

const TableDef& recordsTable() { return kRecords; }
const TableDef& writtenTable() { return kWritten; }
const TableDef& changesTable() { return kChanges; }
const TableDef& desksTable() { return kDesks; }
const TableDef& checkpointsTable() { return kCheckpoints; }
const TableDef& countsTable() { return kCounts; }
const TableDef& answerValuesTable() { return kAnswerValues; }
const TableDef& answerPostingsTable() { return kAnswerPostings; }
std::span<const TableDef* const> tables() { return kTables; }

std::string createTable(const Dialect& dialect, const TableDef& table, bool ifMissing) {
    std::string sql = ifMissing ? "CREATE TABLE IF NOT EXISTS " : "CREATE TABLE ";
    sql.append(table.name).append(" (");
    for (const ColumnDef& column : table.columns) {
        sql.append(&column == table.columns.data() ? "" : ", ").append(definitionOf(dialect, column));
    }
    const bool keyed = !table.primaryKey.empty();
    if (keyed) {
        sql.append(", PRIMARY KEY (").append(table.primaryKey).append(")");
    }
    sql.append(")");
    // A table that is its key: SQLite then keeps one b-tree instead of two.
    return keyed && dialect.kind == Kind::sqlite ? sql.append(" WITHOUT ROWID") : sql;
}

std::string createIndex(const TableDef& table, const IndexDef& index, bool ifMissing) {
    std::string sql(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ");
    sql.append(ifMissing ? "IF NOT EXISTS " : "").append(index.name).append(" ON ").append(table.name);
    return sql.append(" (").append(index.columns).append(")");
}

std::string addColumn(const Dialect& dialect, const TableDef& table, std::string_view column) {
    const auto found = std::find_if(table.columns.begin(), table.columns.end(),
                                    [column](const ColumnDef& def) { return def.name == column; });
    std::string sql("ALTER TABLE ");
    return sql.append(table.name).append(" ADD COLUMN ").append(definitionOf(dialect, *found));
}

// How many of a desk's rows hold a content: what the desk's count of that content is taken to
// be where collate_counts keeps none. Keys are "<content>-<n>", and '.' follows '-', so the range
// on the unique index holds exactly the keys of that content. The desk is compared apart from
// any index (|| ''): planners took the index by desk, which walks every row of the desk.
std::string rowsHolding(std::string_view content, std::string_view source) {
    return sqlOf({"(SELECT count(*) FROM ", kRecordsTable, " r WHERE r.record_key >= ", content,
                  " || '-' AND r.record_key < ", content, " || '.' AND r.source || '' = ", source, ")"});
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
