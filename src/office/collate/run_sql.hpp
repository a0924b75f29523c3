#pragma once

// The SQL that both kinds of database run at the end of a collate: the rows go in with their
// keys numbered, and the checkpoints and counts of the files read are kept. Each kind of
// database stages the run's rows in a table `incoming` (the export's columns, then `file`, the
// file's place in the run, and `content`, the record's content hash) and its files in a table
// `run_files` (see runFilesTable()); PostgreSQL, into a records table the run makes, stages
// only the files and keeps the counts its own way.

#include <string>
#include <vector>

namespace profiledesk::office {

// How the two kinds of database differ in what these statements need.
struct SqlDialect {
    std::string whole;  // a 64-bit integer column
    std::string text;   // a text column compared byte by byte
    bool sqlite = false;
};

// The tables a collate keeps beside the records table, created where missing. The counts may
// be made without their key, to be added once the first counts are in: a sorted build instead
// of one insertion a row.
std::vector<std::string> checkpointTables(const SqlDialect& dialect, bool countsKeyed = true);
inline constexpr const char* kCountsKey = "PRIMARY KEY (source, content)";

// A temporary table of the run's files.
std::string runFilesTable(const SqlDialect& dialect);
// Its row for one file, with a placeholder for each column, in the table's order.
std::string runFilesInsert(const SqlDialect& dialect);
inline constexpr int kRunFilesColumns = 12;

// One row naming a file read after a checkpoint that is no longer the one stored: another run
// collated it meanwhile.
std::string movedCheckpoint();

// Adds the staged rows to the records table, each keyed by its content hash and its place among
// the records of that content in its file; a key already there is skipped (where the table has
// its unique index already). Of two rows with one key, the earlier file's goes in first. The
// last statement adds the rows.
std::vector<std::string> insertRows(const SqlDialect& dialect, bool skipExisting = true);

// Keeps the counts of the staged rows' contents for the files read; then the checkpoints
// they reached.
std::vector<std::string> keepCounts(bool countsEmptied);
std::vector<std::string> keepCheckpoints();

// Empties the checkpoints and counts, for a run that makes the records table anew: they
// describe rows that are gone with the table it replaces, and would have the files read
// after them into a table that lacks their start.
std::vector<std::string> forgetCheckpoints();

}  // namespace profiledesk::office
