#include "office/collate/run_sql.hpp"

#include "office/db/schema.hpp"

namespace profiledesk::office {

std::vector<std::string> checkpointTables(const SqlDialect& dialect, bool countsKeyed) {
    // The counts of each content hash in each source's collated part: the numbering of a
    // record read after a checkpoint goes on from them, so no run keeps a map of a whole file.
    return {"CREATE TABLE IF NOT EXISTS collate_checkpoints (source " + dialect.text +
                " NOT NULL PRIMARY KEY, byte_offset " + dialect.whole + " NOT NULL, records " +
                dialect.whole + " NOT NULL, lines " + dialect.whole + " NOT NULL, tail_length " +
                dialect.whole + " NOT NULL, tail_hash " + dialect.text + " NOT NULL)",
            "CREATE TABLE IF NOT EXISTS collate_counts (source " + dialect.text + " NOT NULL, content " +
                dialect.text + " NOT NULL, times " + dialect.whole + " NOT NULL" +
                (countsKeyed ? std::string(", ") + kCountsKey : std::string()) + ")" +
                (dialect.sqlite ? " WITHOUT ROWID" : "")};
}

std::string runFilesTable(const SqlDialect& dialect) {
    const std::string& whole = dialect.whole;
    return "CREATE TEMP TABLE run_files (file " + whole + " NOT NULL PRIMARY KEY, source " + dialect.text +
           " NOT NULL, from_start " + whole + " NOT NULL, keeps " + whole + " NOT NULL, from_offset " +
           whole + ", from_records " + whole + ", from_tail " + dialect.text + ", to_offset " + whole +
           ", to_records " + whole + ", to_lines " + whole + ", to_tail_length " + whole + ", to_tail " +
           dialect.text + ")" + (dialect.sqlite ? "" : " ON COMMIT DROP");
}

std::string runFilesInsert(const SqlDialect& dialect) {
    std::string statement = "INSERT INTO run_files VALUES (";
    for (int i = 1; i <= kRunFilesColumns; ++i) {
        statement.append(i > 1 ? ", " : "");
        // Appended piece by piece: g++ 12 at -O3 warns of an overlap in "$" + to_string(i).
        if (dialect.sqlite) {
            statement.append("?");
        } else {
            statement.append("$").append(std::to_string(i));
        }
    }
    return statement.append(")");
}

std::string movedCheckpoint() {
    return "SELECT f.source FROM run_files f LEFT JOIN collate_checkpoints c ON c.source = f.source "
           "WHERE f.from_start = 0 AND (c.source IS NULL OR c.byte_offset <> f.from_offset OR "
           "c.records <> f.from_records OR c.tail_hash <> f.from_tail) LIMIT 1";
}

std::vector<std::string> insertRows(const SqlDialect& dialect, bool skipExisting) {
    // A file read from its start is numbered from nothing, whatever its source had before.
    // Content first: the sort compares the hashes' first bytes alone, where file would tie.
    const std::string ordinals =
        "prior + row_number() OVER (PARTITION BY content, file ORDER BY record) AS ordinal FROM (SELECT " +
        std::string(dialect.sqlite ? "i.rowid AS id, i.file, i.content, i.record" : "i.*") +
        ", CASE WHEN f.from_start = 1 THEN 0 ELSE coalesce(c.times, 0) END AS prior "
        "FROM incoming i JOIN run_files f ON f.file = i.file "
        "LEFT JOIN collate_counts c ON c.source = f.source AND c.content = i.content) AS s";
    const std::string into = "INTO " + std::string(kRecordsTable) + " (" + columnList() + ") ";
    if (dialect.sqlite) {
        // Numbered in a narrow table of their own, then joined back in file order: sorting the
        // whole rows by content and back again took longer than the rest of the commit.
        return {"DELETE FROM temp.ordinals", "INSERT INTO temp.ordinals (id, ordinal) SELECT id, " + ordinals,
                // Only a row whose key is there already is skipped: any other constraint a row
                // breaks fails the run. SQLite needs a WHERE before ON CONFLICT here.
                "INSERT " + into + "SELECT " + valueColumns() +
                    ", i.content || '-' || o.ordinal FROM incoming i CROSS JOIN temp.ordinals o "
                    "ON o.id = i.rowid WHERE true ORDER BY i.rowid" +
                    (skipExisting ? " ON CONFLICT (" + std::string(kKeyColumn) + ") DO NOTHING" : "")};
    }
    // In the order the numbering left them: sorting the whole rows back into file order took a
    // third of the statement. Of two rows with one key, the earlier file's still comes first.
    return {"INSERT " + into + "SELECT " + valueColumns() + ", content || '-' || ordinal FROM (SELECT s.*, " +
            ordinals + ") AS n ORDER BY content, file, record" +
            (skipExisting ? " ON CONFLICT (" + std::string(kKeyColumn) + ") DO NOTHING" : "")};
}

std::vector<std::string> keepCounts(bool countsEmptied) {
    const std::string counted = "FROM incoming i JOIN run_files f ON f.file = i.file ";
    const std::string kept = "WHERE f.keeps = 1 AND f.to_offset IS NOT NULL GROUP BY i.content, f.source";
    return {
        "DELETE FROM collate_counts WHERE source IN (SELECT source FROM run_files WHERE keeps = 1 AND "
        "from_start = 1)",
        // Into counts this run emptied, each (source, content) is new: a plain insert, without
        // looking for an earlier count of each (which took most of a first run's commit).
        countsEmptied
            ? "INSERT INTO collate_counts (source, content, times) SELECT f.source, i.content, count(*) " +
                  counted + kept
            : "INSERT INTO collate_counts (source, content, times) SELECT f.source, i.content, count(*) + "
              "coalesce(max(c.times), 0) " +
                  counted + "LEFT JOIN collate_counts c ON c.source = f.source AND c.content = i.content " +
                  kept + " ON CONFLICT (source, content) DO UPDATE SET times = excluded.times",
    };
}

std::vector<std::string> keepCheckpoints() {
    return {
        "DELETE FROM collate_checkpoints WHERE source IN (SELECT source FROM run_files WHERE keeps = 1 AND "
        "to_offset IS NULL)",
        "INSERT INTO collate_checkpoints (source, byte_offset, records, lines, tail_length, tail_hash) "
        "SELECT source, to_offset, to_records, to_lines, to_tail_length, to_tail FROM run_files "
        "WHERE keeps = 1 AND to_offset IS NOT NULL ON CONFLICT (source) DO UPDATE SET "
        "byte_offset = excluded.byte_offset, records = excluded.records, lines = excluded.lines, "
        "tail_length = excluded.tail_length, tail_hash = excluded.tail_hash",
    };
}

std::vector<std::string> forgetCheckpoints() {
    return {"DELETE FROM collate_checkpoints", "DELETE FROM collate_counts"};
}

}  // namespace profiledesk::office
