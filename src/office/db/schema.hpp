#pragma once

// The office's tables, described once: from this each kind of database's SQL is made, and the
// migrations carry an older database forward to it.
//
// - records: one row per collated record, the export's columns and a unique record_key (the
//   record's content hash and its place among the records of that content in its file), with
//   indexes on entered_at and on (source, record). Its answers are the office's current
//   values; `state` is the office's review (new, approved, needs-look, rejected), `gone` marks
//   a record no longer in its desk's file, `forgotten` one whose answers were erased, and
//   `revision` counts the changes made to it, so that two clerks never lose one another's;
//   `looks` names the rules of quality.hpp its answers break, if any: a record that needs a look.
// - records_as_written: the answers as the desk wrote them, for each record whose current
//   answers are not those (a record absent here is as written).
// - record_changes: every change the office made to a record: who, when, why, what, and the
//   value before and after.
// - collate_desks: the encoding each desk was last read with.
// - collate_checkpoints: where the last collate of each desk stopped in its file, and how many
//   rows the desk then had, by which a collate notices rows deleted by hand.
// - collate_counts: how many records of each content each desk's collated part holds, from
//   which a collate after a checkpoint numbers the records it adds; kept only where it is not
//   the number of the desk's rows keyed with that content (rowsHolding()), as it is for nearly
//   every content, so that a first collate writes none.
// - answer_values and answer_postings: the index of answers that find --from-db searches
//   (answer_index.hpp).
// Every column is NOT NULL on every kind of database: an absent value is empty.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "office/db/database.hpp"

namespace profiledesk::office::db {

// The schema this release makes and reads. 1 is release 1.0.0's, which kept no version.
inline constexpr int kSchemaVersion = 4;

enum class Type : unsigned char {
    integer,
    text,
    serial,  // a whole number the database gives each new row, the table's key
};

struct ColumnDef {
    constexpr ColumnDef() = default;
    constexpr ColumnDef(std::string_view named, Type typed, std::string_view defaulting = {})
        : name(named), type(typed), byDefault(defaulting) {}

    std::string_view name;
    Type type = Type::text;
    std::string_view byDefault;  // an SQL literal, for a column added to rows already there
};

struct IndexDef {
    std::string_view name;
    std::string_view columns;
    bool unique = false;
};

struct TableDef {
    std::string_view name;
    std::span<const ColumnDef> columns;
    std::string_view primaryKey;  // its columns, or empty for none
    std::span<const IndexDef> indexes;
    // Made in a database that has the records table already, it gets the rights the office
    // gave on this one: those who could use the database then still can.
    std::string_view rightsAs;
    // Rows kept in step with rightsAs's (an index of them): whoever may change those in any way
    // may change these in every way, or their changes would fail part-way.
    bool keptInStep = false;
};

inline constexpr std::string_view kRecordsTable = "records";
inline constexpr std::string_view kKeyColumn = "record_key";
inline constexpr std::string_view kDayColumn = "entered_at";

const TableDef& recordsTable();
const TableDef& writtenTable();
const TableDef& changesTable();
const TableDef& desksTable();
const TableDef& checkpointsTable();
const TableDef& countsTable();
const TableDef& answerValuesTable();
const TableDef& answerPostingsTable();

// The review states a record may be in, the first a new record's.
inline constexpr std::array<std::string_view, 4> kStates{"new", "approved", "needs-look", "rejected"};
// Every table of the schema, in the order they are made.
std::span<const TableDef* const> tables();

// "CREATE TABLE [IF NOT EXISTS] name (...)": every column NOT NULL.
std::string createTable(const Dialect& dialect, const TableDef& table, bool ifMissing = true);
// "CREATE [UNIQUE] INDEX [IF NOT EXISTS] name ON table (columns)".
std::string createIndex(const TableDef& table, const IndexDef& index, bool ifMissing = true);
// "ALTER TABLE table ADD COLUMN ...", with its default for the rows already there.
std::string addColumn(const Dialect& dialect, const TableDef& table, std::string_view column);

// The number of a desk's rows (`source`) whose key starts with `content`, as an SQL expression:
// a desk's count of a content wherever collate_counts keeps none.
std::string rowsHolding(std::string_view content, std::string_view source);

// "source, record, ..., age_after_years": the export's columns, as the records table names them.
std::string valueColumns();
// The same and record_key.
std::string recordColumns();
// Which of valueColumns() hold whole numbers, in their order.
std::span<const bool> valueIntegers();

// The name a desk's records are kept under: the name itself where it is UTF-8 without a NUL
// byte, as nearly every one is; otherwise each byte that is not UTF-8, and each NUL, as \xHH
// (a folder K\xf6ln), so that both kinds of database keep it the same and every such desk
// stays apart from the others.
std::string storedName(std::string_view name);

}  // namespace profiledesk::office::db
