// The rules of a collate, written once over the database seam for every kind of database:
//
// - the run's rows are staged apart from the shared tables, so that a run killed before its end
//   leaves the database as it was and other runs wait only for each other's final write;
// - each row is keyed by its content hash and its place among the records of that content in its
//   file ("<hash>-2" for the second), numbered after the counts kept for the part of the file
//   collated before; a key already there is skipped, and of two rows with one key, the earlier
//   file's goes in;
// - the checkpoints and counts of the files read go in with the rows, all at once, unless
//   another run moved a checkpoint that this one read after: then nothing is kept.
//
// Into a records table of its own making, a run adds the rows first and the unique key's index
// after them, by one sort: inserting random keys into an index one at a time reads and writes
// pages all over the file once the index outgrows the cache. Where each file has a name of its
// own, a PostgreSQL run loads its rows by COPY straight into that table, each keyed as the first
// of its content in its file, and mends the few keys that are not so once they are in.

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <string>
#include <vector>

#include "office/collate/target.hpp"
#include "office/db/answer_index.hpp"
#include "office/db/migrate.hpp"
#include "office/db/schema.hpp"
#include "office/quality.hpp"

namespace profiledesk::office {

namespace {

using db::Value;

constexpr std::string_view kNulNote = "a NUL byte, stored as U+FFFD";
constexpr std::string_view kNameNote = "not UTF-8";

// The run's files, staged beside its rows.
constexpr std::string_view kRunFilesColumns =
    "file, source, from_start, keeps, from_offset, from_records, from_tail, to_offset, to_records, to_lines, "
    "to_tail_length, to_tail, read_whole, encoding, reread";
constexpr std::size_t kRunFilesCount = 15;

std::string runFilesTable(const db::Dialect& d) {
    const std::string whole(d.integer);
    const std::string text(d.text);
    return d.tempTable("run_files",
                       "file " + whole + " NOT NULL PRIMARY KEY, source " + text + " NOT NULL, from_start " +
                           whole + " NOT NULL, keeps " + whole + " NOT NULL, from_offset " + whole +
                           ", from_records " + whole + ", from_tail " + text + ", to_offset " + whole +
                           ", to_records " + whole + ", to_lines " + whole + ", to_tail_length " + whole +
                           ", to_tail " + text + ", read_whole " + whole + " NOT NULL, encoding " + text +
                           " NOT NULL, reread " + whole + " NOT NULL");
}

// One row naming a file read after a checkpoint that is no longer the one stored: another run
// collated it meanwhile.
constexpr std::string_view kMovedCheckpoint =
    "SELECT f.file FROM run_files f LEFT JOIN collate_checkpoints c ON c.source = f.source "
    "WHERE f.from_start = 0 AND (c.source IS NULL OR c.byte_offset <> f.from_offset OR "
    "c.records <> f.from_records OR c.tail_hash <> f.from_tail) ORDER BY f.file";

// For each file and content of the run, the records of that content in the desk's part read
// before (none for a file read from its start) and in this run: written before the rows go in,
// which change what the desk's rows tell.
std::string runPriorsTable(const db::Dialect& d) {
    return d.tempTable("run_priors", db::sqlOf({"file ", d.integer, " NOT NULL, content ", d.text,
                                                " NOT NULL, prior ", d.integer, " NOT NULL, n ", d.integer,
                                                " NOT NULL, PRIMARY KEY (file, content)"}));
}

std::string fillRunPriors() {
    return "INSERT INTO run_priors (file, content, prior, n) SELECT i.file, i.content, CASE WHEN "
           "f.from_start = 1 "
           "THEN 0 ELSE coalesce(max(c.times), " +
           db::rowsHolding("i.content", "f.source") +
           ") END, count(*) FROM incoming i JOIN run_files f ON f.file = i.file LEFT JOIN collate_counts c "
           "ON "
           "c.source = f.source AND c.content = i.content GROUP BY i.file, i.content, f.source, f.from_start";
}

// Adds the staged rows to the records table, each keyed by its content hash and its place among
// the records of that content in its file; a key already there is skipped where `skipExisting`.
// Of two rows with one key, the earlier file's goes in first. The last statement adds the rows.
std::vector<std::string> insertRows(const db::Dialect& d, bool skipExisting) {
    const std::string ordinal =
        "p.prior + row_number() OVER (PARTITION BY i.content, i.file ORDER BY i.record) AS ordinal FROM "
        "incoming i "
        "JOIN run_priors p ON p.file = i.file AND p.content = i.content";
    const std::string into = "INTO " + std::string(db::kRecordsTable) + " (" + db::valueColumns() +
                             ", looks, " + std::string(db::kKeyColumn) + ") ";
    const std::string skip =
        skipExisting ? " ON CONFLICT (" + std::string(db::kKeyColumn) + ") DO NOTHING" : "";
    if (d.kind == db::Kind::sqlite) {
        // Numbered in a narrow table of their own, then joined back in file order: sorting the
        // whole rows by content and back again took longer than the rest of the commit. SQLite
        // needs a WHERE before ON CONFLICT here.
        return {"DELETE FROM temp.ordinals",
                "INSERT INTO temp.ordinals (id, ordinal) SELECT i.rowid, " + ordinal,
                "INSERT " + into + "SELECT " + db::valueColumns() +
                    ", i.looks, i.content || '-' || o.ordinal FROM incoming i CROSS JOIN temp.ordinals o "
                    "ON o.id = i.rowid WHERE true ORDER BY i.rowid" +
                    skip};
    }
    // In the order the numbering left them: sorting the whole rows back into file order took a
    // third of the statement. Of two rows with one key, the earlier file's still comes first.
    // The keys added are noted, for the index of answers.
    return {"DELETE FROM run_added", "WITH added AS (INSERT " + into + "SELECT " + db::valueColumns() +
                                         ", looks, content || '-' || ordinal FROM (SELECT i.*, " + ordinal +
                                         ") AS n ORDER BY content, file, record" + skip +
                                         " RETURNING record_key) INSERT INTO run_added (record_key) SELECT "
                                         "record_key FROM added"};
}

// Of the counts kept for the desks of the run, those the desks' rows now tell: a count is kept
// only where it differs from how many of the desk's rows hold its content (a record dropped as
// another file's, a record gone from the desk's file), so that a first collate keeps none.
std::string pruneCounts(std::string_view sources) {
    return db::sqlOf({"DELETE FROM collate_counts WHERE source IN (", sources,
                      ") AND times = ", db::rowsHolding("collate_counts.content", "collate_counts.source")});
}

// Keeps the counts of the staged rows' contents for the files read; `wholeRead` where the run
// read a desk from its start.
std::vector<std::string> keepCounts(bool wholeRead) {
    const std::string kept = "f.keeps = 1 AND f.to_offset IS NOT NULL";
    const std::string content = "substr(r.record_key, 1, " + std::to_string(kContentLength) + ")";
    std::vector<std::string> statements{
        "DELETE FROM collate_counts WHERE source IN (SELECT source FROM run_files WHERE keeps = 1 AND "
        "from_start = 1)",
        "INSERT INTO collate_counts (source, content, times) SELECT f.source, p.content, p.prior + p.n FROM "
        "run_priors p JOIN run_files f ON f.file = p.file WHERE " +
            kept + " ON CONFLICT (source, content) DO UPDATE SET times = excluded.times",
    };
    if (wholeRead) {
        // A desk read whole no longer holds the contents of its rows that the run did not meet.
        // Asked only then: SQLite's planner reads every row of the desk before it finds no file
        // read whole.
        statements.push_back(db::sqlOf(
            {"INSERT INTO collate_counts (source, content, times) SELECT r.source, ", content, ", 0 FROM ",
             db::kRecordsTable, " r JOIN run_files f ON f.source = r.source WHERE f.from_start = 1 AND ",
             kept, " AND NOT EXISTS (SELECT 1 FROM run_priors p WHERE p.file = f.file AND p.content = ",
             content, ") GROUP BY 1, 2 ON CONFLICT (source, content) DO NOTHING"}));
    }
    statements.push_back(pruneCounts("SELECT source FROM run_files WHERE keeps = 1"));
    return statements;
}

// Then the checkpoints the files reached.
// With each the rows its desk has then, by which the next run notices rows deleted by hand; and
// the encoding each desk was read with. A desk read only after its checkpoint had the rows that
// checkpoint counted, or the run would have read it whole: those and the rows the run added
// (`added`: a condition on the records table's `r` naming them among the desk's `f.source`) are
// counted without reading the desk's other rows, which took most of a run that adds a record.
// `handChanges`: the length of the log of rows changed by hand when the run began, or -1.
std::array<std::string, 3> keepCheckpoints(std::string_view added, std::int64_t handChanges) {
    const std::string table(db::kRecordsTable);
    return {
        "DELETE FROM collate_checkpoints WHERE source IN (SELECT source FROM run_files WHERE keeps = 1 AND "
        "to_offset IS NULL)",
        db::sqlOf(
            {"INSERT INTO collate_checkpoints (source, byte_offset, records, lines, tail_length, "
             "tail_hash, kept_rows, hand_changes) SELECT f.source, f.to_offset, f.to_records, f.to_lines, "
             "f.to_tail_length, f.to_tail, CASE WHEN c.kept_rows IS NOT NULL AND NOT EXISTS (SELECT 1 "
             "FROM run_files g WHERE g.source = f.source AND g.from_start = 1) THEN c.kept_rows + (SELECT "
             "count(*) FROM ",
             table, " r WHERE ", added, ") ELSE (SELECT count(*) FROM ", table,
             " r WHERE r.source = f.source) END, ", std::to_string(handChanges),
             " FROM run_files f LEFT JOIN collate_checkpoints c ON "
             "c.source = f.source WHERE f.keeps = 1 AND f.to_offset IS NOT NULL ON CONFLICT (source) DO "
             "UPDATE SET byte_offset = excluded.byte_offset, records = excluded.records, lines = "
             "excluded.lines, tail_length = excluded.tail_length, tail_hash = excluded.tail_hash, "
             "kept_rows = excluded.kept_rows, hand_changes = excluded.hand_changes"}),
        "INSERT INTO collate_desks (source, encoding) SELECT source, max(encoding) FROM run_files "
        "WHERE keeps = 1 GROUP BY source ON CONFLICT (source) DO UPDATE SET encoding = excluded.encoding",
    };
}

// For a run that makes the records table anew: the checkpoints and counts describe rows that
// are gone with the table it replaces, and would have the files read after them into a table
// that lacks their start.
const std::array<std::string, 2> kForgetCheckpoints{"DELETE FROM collate_checkpoints",
                                                    "DELETE FROM collate_counts"};

// Of rows sharing a key in PostgreSQL, all but the first that went in.
std::string deleteLaterDuplicates() {
    const std::string table(db::kRecordsTable);
    const std::string key(db::kKeyColumn);
    return "DELETE FROM " + table + " later USING " + table + " first WHERE later." + key + " = first." +
           key + " AND later.ctid > first.ctid";
}

class DatabaseTarget final : public CollateTarget {
public:
    DatabaseTarget(std::unique_ptr<db::Database> db, std::string by, std::string at, db::Teller tell)
        : db_(std::move(db)), by_(std::move(by)), at_(std::move(at)), tell_(std::move(tell)) {}
    ~DatabaseTarget() override {
        if (load_) {
            (void)load_->finish();
        }
        db_->rollback();
    }
    DatabaseTarget(const DatabaseTarget&) = delete;
    DatabaseTarget& operator=(const DatabaseTarget&) = delete;
    DatabaseTarget(DatabaseTarget&&) = delete;
    DatabaseTarget& operator=(DatabaseTarget&&) = delete;

    Status start(const std::vector<std::string>& sources, std::vector<DeskState>& found) override {
        found.assign(sources.size(), DeskState{});
        bool records = false;
        bool checkpoints = false;
        bool desks = false;
        Status status = db_->tableExists(db::kRecordsTable, records);
        status = status.isOk() ? db_->tableExists(db::checkpointsTable().name, checkpoints) : status;
        status = status.isOk() ? db_->tableExists(db::desksTable().name, desks) : status;
        // A records table made by hand must keep its keys apart, or each run would add every
        // record again.
        bool keyed = true;
        status = status.isOk() && records ? db_->uniqueOn(db::kRecordsTable, db::kKeyColumn, keyed) : status;
        if (status.isOk() && !keyed) {
            return Status::failure(db_->name() +
                                   ": the records table has no UNIQUE constraint on record_key alone; "
                                   "give it one, or collate into another file");
        }
        // Checkpoints without the records table hold for nothing: the files are read whole.
        // They are read before the run's own transaction, whose lock would otherwise be held to
        // the end of the run, and in one read of their own, so that a collate committing
        // meanwhile is seen whole or not at all (its checkpoint without its rows would look
        // like rows deleted by hand). A checkpoint moved meanwhile is found at the commit.
        status = status.isOk() && records ? db_->beginRead() : status;
        status = status.isOk() && records ? db::rowsChangedByHand(*db_, handChanges_) : status;
        for (std::size_t i = 0; status.isOk() && records && i < sources.size(); ++i) {
            status = deskState(db::storedName(sources[i]), checkpoints, desks, found[i]);
        }
        if (records) {
            db_->rollback();  // the read ends
        }
        if (!status.isOk()) {
            return status;
        }
        const db::Dialect& d = db_->dialect();
        // Into a table of its own, where each file has a name of its own, a run's rows go
        // straight in: written once instead of twice.
        direct_ = !records && std::set<std::string>(sources.begin(), sources.end()).size() == sources.size();
        if (direct_) {
            // The table is the run's own until it commits: it is made now, under the writer's
            // lock, which a second first run waits for.
            status = beginWrite();
            status = status.isOk() ? db_->tableExists(db::kRecordsTable, records) : status;
            direct_ = status.isOk() && !records;
            if (status.isOk() && !direct_) {
                db_->rollback();  // another run made it meanwhile: this one stages its rows
            }
        }
        if (status.isOk() && direct_) {
            created_ = true;
            status = db_->run(db::createTable(d, db::recordsTable(), false));
            status = status.isOk() ? makeSchema() : status;
            status = status.isOk() ? watchNewTable() : status;
            status = status.isOk() ? db_->runAll(kForgetCheckpoints) : status;
        } else if (status.isOk()) {
            status = db_->beginStaging();
            status = status.isOk() ? db_->run(d.tempTable("incoming", stagedDefinitions(d))) : status;
            status = status.isOk() ? db_->run(runPriorsTable(d)) : status;
            if (status.isOk() && d.kind == db::Kind::postgres) {
                status = db_->run(d.tempTable("run_added", db::sqlOf({"record_key ", d.text, " NOT NULL"})));
            }
            if (status.isOk() && d.kind == db::Kind::sqlite) {
                status =
                    db_->run("CREATE TEMP TABLE ordinals (id INTEGER PRIMARY KEY, ordinal INTEGER NOT NULL)");
            }
        }
        status = status.isOk() ? db_->run(runFilesTable(d)) : status;
        if (!status.isOk()) {
            return status;
        }
        return startLoad();
    }

    // Rows into the records table, or into the staging.
    Status startLoad() {
        // The export's columns and what needs a look, then the file and the content's hash, or
        // the key.
        std::array<bool, kLoaded> integers{};
        std::copy(db::valueIntegers().begin(), db::valueIntegers().end(), integers.begin());
        integers.at(kColumnCount + 1) = !direct_;
        auto loading =
            db_->load(direct_ ? db::kRecordsTable : "incoming",
                      db::valueColumns() +
                          (direct_ ? ", looks, " + std::string(db::kKeyColumn) : ", looks, file, content"),
                      std::span<const bool>(integers).first(direct_ ? kLoaded - 1 : kLoaded), direct_);
        if (!loading.isOk()) {
            return loading.status();
        }
        load_ = std::move(loading).value();
        return Status::ok();
    }

    Status add(const Row& row, std::string_view content, std::uint32_t file) override {
        notes_.clear();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const std::string_view value = row.values.at(i);
            if (kColumns.at(i).kind == ColumnKind::whole) {
                values_.at(i) = Value::of(static_cast<std::int64_t>(wholeOf(value)));
            } else if (i == 0) {
                values_.at(i) = Value::of(nameOf(value));
            } else if (value.find('\0') != std::string_view::npos) {
                // Neither kind of database is given a NUL in an answer: PostgreSQL cannot hold one.
                replaceNuls(replaced_.at(i), value);
                values_.at(i) = Value::of(replaced_.at(i));
                notes_.push_back({i, kNulNote});
            } else {
                values_.at(i) = Value::of(value);
            }
        }
        // What needs a look is worked out once, as the record goes in, and kept with it.
        std::array<std::string_view, kColumnCount> decoded{};
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            decoded.at(i) = values_.at(i).text;
        }
        looks_ = ruleList(lookAt(decoded, false));
        values_.at(kColumnCount) = Value::of(looks_);
        if (direct_) {
            key_.assign(content).append("-1");
            values_.at(kColumnCount + 1) = Value::of(key_);
        } else {
            values_.at(kColumnCount + 1) = Value::of(std::int64_t{file});
            values_.at(kColumnCount + 2) = Value::of(content);
        }
        ++rows_;
        Status status = load_->add(std::span<const Value>(values_.data(), direct_ ? kLoaded - 1 : kLoaded));
        if (status.isOk() && direct_) {
            // Rows that go straight in are indexed as they go; the others once they are in.
            for (std::size_t i = 0; i < kAnswerCount; ++i) {
                answers_.at(i) = values_.at(kFirstAnswer + i).text;
            }
            if (indexer_.add(values_.at(0).text, values_.at(1).integer, answers_)) {
                status = load_->finish();
                status = status.isOk() ? indexer_.write(*db_, false) : status;
                status = status.isOk() ? startLoad() : status;
            }
        }
        return status;
    }

    void endFile(FileRun file) override { files_.push_back(std::move(file)); }

    [[nodiscard]] std::span<const Note> lastNotes() const override { return notes_; }

    Status commit(CollateCounts& counts, const ReadAgain& readAgain) override {
        Status status = load_->finish();
        load_.reset();
        status = status.isOk() ? stageFiles() : status;
        // One run adds at a time: two inserting the same keys in different orders would wait on
        // each other, and the checkpoints of one would not see the other's.
        status = status.isOk() && !direct_ ? beginWrite() : status;
        if (status.isOk() && !direct_) {
            status = makeTables();
        }
        if (status.isOk() && created_ && !direct_) {
            // Before the check: a file read after a checkpoint now finds it gone, and is read
            // again from its start rather than leave the new table without that file's start.
            status = db_->runAll(kForgetCheckpoints);
        }
        status = status.isOk() ? readMovedAgain(readAgain) : status;
        std::uint64_t added = direct_ ? rows_ : 0;
        std::int64_t before = 0;  // SQLite's rows after this one are the run's
        status = status.isOk() && !direct_ ? db_->run(fillRunPriors()) : status;
        if (status.isOk() && direct_) {
            status = keyDirectRows(added);
        } else if (status.isOk() && created_) {
            status = fillNewTable(added);
            status = status.isOk() && !answersMade_ ? db::indexRecords(*db_) : status;
        } else if (status.isOk()) {
            if (db_->dialect().kind == db::Kind::sqlite) {
                status = db_->number("SELECT coalesce(max(rowid), 0) FROM " + std::string(db::kRecordsTable),
                                     before);
            }
            const std::vector<std::string> statements = insertRows(db_->dialect(), true);
            status = status.isOk() ? db_->runAll(std::span(statements).first(statements.size() - 1)) : status;
            status = status.isOk() ? db_->run(statements.back(), {}, {}, &added) : status;
            if (status.isOk() && !answersMade_ && added > 0) {
                status = db::indexRecords(*db_, " WHERE " + addedByRun(before));
            }
        }
        const bool wholeRead = std::any_of(files_.begin(), files_.end(),
                                           [](const FileRun& file) { return file.fromStart && file.keeps; });
        if (status.isOk() && !created_ && wholeRead) {
            status = markGone(counts.gone);
        }
        for (const FileRun& file : files_) {
            if (file.reread && file.keeps && !created_ &&
                std::none_of(counts.reread.begin(), counts.reread.end(), [&file](const Reread& desk) {
                    return desk.source == db::storedName(file.source);
                })) {
                counts.reread.push_back({db::storedName(file.source), file.was, file.encoding, 0});
            }
        }
        if (status.isOk() && !counts.reread.empty()) {
            status = rereadDesks(counts.reread);
        }
        if (status.isOk() && !direct_) {
            status = db_->runAll(keepCounts(wholeRead));
        }
        // The other indexes of a table this run made, after its rows too.
        for (const db::IndexDef& index : db::recordsTable().indexes) {
            if (!status.isOk() || !created_) {
                break;
            }
            if (!index.unique) {
                status = db_->run(db::createIndex(db::recordsTable(), index, false));
            }
        }
        if (status.isOk() && answersMade_) {
            // Made by this run: filled with every record there, then searched by trigrams.
            status = direct_ ? indexer_.write(*db_) : db::indexRecords(*db_);
            status = status.isOk() ? db::makeAnswerSearch(*db_, tell_) : status;
        }
        // A table this run made has no checkpoint to count on (and no list of the rows added).
        // SQLite's desk is told apart with `+`, off its index: through it, every row was read.
        const std::string deskAdded = created_ ? "false"
                                               : addedByRun(before) + (db_->dialect().kind == db::Kind::sqlite
                                                                           ? " AND +r.source = f.source"
                                                                           : " AND r.source = f.source");
        status = status.isOk() ? db_->runAll(keepCheckpoints(deskAdded, handChanges_.value_or(-1))) : status;
        if (status.isOk() && created_ && db_->dialect().kind == db::Kind::postgres) {
            // A table filled at once has no statistics until autovacuum comes by: the planner
            // then reads every row by the day's index for a search the index of answers narrowed
            // to a few records (230 ms in place of 30).
            status = db_->run("ANALYZE " + std::string(db::kRecordsTable));
        }
        status = status.isOk() ? db_->commit() : status;
        if (!status.isOk()) {
            db_->rollback();
            return status;
        }
        counts.added = added;
        counts.present = rows_ - added;
        for (const FileRun& file : files_) {
            counts.skipped += file.from ? file.from->records : 0;
        }
        return Status::ok();
    }

    [[nodiscard]] bool made() const override { return db_->made(); }
    [[nodiscard]] std::string name() const override { return db_->name(); }

private:
    // What the database keeps of one desk, and whether its rows and counts are still those its
    // checkpoint speaks for: a count of each by the desk's indexes, not a read of the rows.
    Status deskState(const std::string& stored, bool checkpoints, bool desks, DeskState& state) {
        const std::array values{Value::of(stored)};
        const std::string where = " WHERE source = " + db_->dialect().placeholder(1);
        std::uint64_t keptRows = 0;
        std::int64_t handChanges = -1;
        Status status = checkpoints
                            ? db_->run(
                                  "SELECT byte_offset, records, lines, tail_length, tail_hash, kept_rows, "
                                  "hand_changes FROM collate_checkpoints" +
                                      where,
                                  values,
                                  [&](const db::Row& row) {
                                      const auto whole = [&row](std::size_t at) {
                                          return static_cast<std::uint64_t>(row.integer(at));
                                      };
                                      state.checkpoint = Checkpoint{whole(0), whole(1), whole(2), whole(3),
                                                                    std::string(row.text(4))};
                                      keptRows = whole(5);
                                      handChanges = row.integer(6);
                                      return false;
                                  })
                            : Status::ok();
        if (status.isOk() && desks) {
            status =
                db_->run("SELECT encoding FROM collate_desks" + where, values, [&state](const db::Row& row) {
                    state.encoding = std::string(row.text(0));
                    return false;
                });
        }
        // Where nobody changed rows by hand since the checkpoint, it still counts them.
        const bool unchanged = state.checkpoint && handChanges_ && handChanges == *handChanges_;
        auto rows = static_cast<std::int64_t>(keptRows);
        std::int64_t counted = 0;
        status = status.isOk() && !unchanged
                     ? db_->number("SELECT count(*) FROM " + std::string(db::kRecordsTable) + where, rows, 0,
                                   values)
                     : status;
        if (status.isOk() && state.checkpoint) {
            // Each content's count where one is kept, and how many of the desk's rows hold it
            // for the rest: few are kept, so this stays a handful of lookups.
            std::int64_t beyondRows = 0;
            status = db_->number("SELECT coalesce(sum(times - " +
                                     db::rowsHolding("collate_counts.content", "collate_counts.source") +
                                     "), 0) FROM collate_counts" + where,
                                 beyondRows, 0, values);
            counted = rows + beyondRows;
            state.disagrees = static_cast<std::uint64_t>(rows) != keptRows ||
                              static_cast<std::uint64_t>(counted) != state.checkpoint->records;
        }
        state.known = state.checkpoint.has_value() || state.encoding.has_value() || rows > 0;
        return status;
    }

    // The rows this run added to a table there before, as a condition on its columns: SQLite's
    // follow the `before` rowid, and PostgreSQL's insert noted their keys.
    [[nodiscard]] std::string addedByRun(std::int64_t before) const {
        return db_->dialect().kind == db::Kind::sqlite ? "rowid > " + std::to_string(before)
                                                       : "record_key IN (SELECT record_key FROM run_added)";
    }

    // The keys of the staged rows, as the insert numbered them.
    [[nodiscard]] std::string stagedKeys() const {
        if (db_->dialect().kind == db::Kind::sqlite) {
            return "SELECT f.source, i.content || '-' || o.ordinal AS record_key, i.rowid AS id FROM "
                   "incoming i "
                   "JOIN temp.ordinals o ON o.id = i.rowid JOIN run_files f ON f.file = i.file";
        }
        return "SELECT f.source, i.content || '-' || (p.prior + row_number() OVER (PARTITION BY i.content, "
               "i.file "
               "ORDER BY i.record)) AS record_key, i.ctid AS id FROM incoming i JOIN run_files f ON f.file = "
               "i.file "
               "JOIN run_priors p ON p.file = i.file AND p.content = i.content";
    }

    // The records of desks read whole in this run that are no longer in their files are marked
    // gone from them, and those that are there again are marked back, each in its history.
    Status markGone(std::uint64_t& gone) {
        const db::Dialect& d = db_->dialect();
        const std::string whole =
            "source IN (SELECT source FROM run_files GROUP BY source HAVING min(read_whole) = 1)";
        const std::string run = "record_key IN (SELECT k.record_key FROM (" + stagedKeys() + ") AS k)";
        const std::array clerk{Value::of(at_), Value::of(by_)};
        const std::string table(db::kRecordsTable);
        // Looked for first: a run that changes none needs no right to change them.
        std::int64_t changing = 0;
        Status status = db_->number("SELECT count(*) FROM " + table + " WHERE " + whole +
                                        " AND (gone = 0 AND NOT " + run + " OR gone = 1 AND " + run + ")",
                                    changing);
        if (!status.isOk() || changing == 0) {
            return status;
        }
        status = db_->run(
            "INSERT INTO record_changes (record_key, at, by, why, action, field, old_value, "
            "new_value) SELECT record_key, " +
                d.placeholder(1) + ", " + d.placeholder(2) +
                ", 'no longer in its desk''s file', 'gone', '', '', '' FROM " + table +
                " WHERE gone = 0 AND " + whole + " AND NOT " + run,
            clerk);
        status = status.isOk() ? db_->run("UPDATE " + table +
                                              " SET gone = 1, revision = revision + 1 WHERE gone = 0 "
                                              "AND " +
                                              whole + " AND NOT " + run,
                                          {}, {}, &gone)
                               : status;
        status = status.isOk() ? db_->run(
                                     "INSERT INTO record_changes (record_key, at, by, why, action, field, "
                                     "old_value, new_value) SELECT record_key, " +
                                         d.placeholder(1) + ", " + d.placeholder(2) +
                                         ", 'in its desk''s file again', 'back', '', '', '' "
                                         "FROM " +
                                         table + " WHERE gone = 1 AND " + whole + " AND " + run,
                                     clerk)
                               : status;
        return status.isOk() ? db_->run("UPDATE " + table +
                                        " SET gone = 0, revision = revision + 1 WHERE gone = 1 AND " + whole +
                                        " AND " + run)
                             : status;
    }

    // The answers of records of desks read again in another encoding, decoded anew: the answers
    // as written take the new ones, and so does each answer the office has not corrected.
    Status rereadDesks(std::vector<Reread>& reread) {
        const db::Dialect& d = db_->dialect();
        std::string answers;
        for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
            answers.append(", i.").append(kColumns.at(i).name);
        }
        std::string current;
        std::string written;
        for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
            current.append(", r.").append(kColumns.at(i).name);
            written.append(", w.").append(kColumns.at(i).name);
        }
        struct Found {
            std::string key;
            std::array<std::string, kAnswerCount> decoded;
            std::array<std::string, kAnswerCount> now;
            std::optional<std::array<std::string, kAnswerCount>> written;
            std::string source;
            std::int64_t record = 0;
        };
        std::vector<Found> found;
        const std::string idColumn = d.kind == db::Kind::sqlite ? "i.rowid" : "i.ctid";
        Status status = db_->run(
            "SELECT k.record_key, k.source, w.record_key" + answers + current + written +
                ", r.record FROM (" + stagedKeys() + ") AS k JOIN incoming i ON " + idColumn +
                " = k.id JOIN run_files f ON f.file = i.file JOIN " + std::string(db::kRecordsTable) +
                " r ON r.record_key = k.record_key AND r.source = k.source "
                "LEFT JOIN records_as_written w ON w.record_key = k.record_key WHERE f.reread = 1 AND "
                "r.forgotten = 0",
            {}, [&found](const db::Row& row) {
                Found one{std::string(row.text(0)),         {}, {}, std::nullopt, std::string(row.text(1)),
                          row.integer(3 + 3 * kAnswerCount)};
                for (std::size_t i = 0; i < kAnswerCount; ++i) {
                    one.decoded.at(i).assign(row.text(3 + i));
                    one.now.at(i).assign(row.text(3 + kAnswerCount + i));
                }
                if (!row.isNull(2)) {
                    one.written.emplace();
                    for (std::size_t i = 0; i < kAnswerCount; ++i) {
                        one.written->at(i).assign(row.text(3 + 2 * kAnswerCount + i));
                    }
                }
                found.push_back(std::move(one));
                return true;
            });
        for (const Found& one : found) {
            const std::array<std::string, kAnswerCount>& before = one.written ? *one.written : one.now;
            if (!status.isOk() || before == one.decoded) {
                continue;
            }
            auto at = std::find_if(reread.begin(), reread.end(),
                                   [&one](const Reread& desk) { return desk.source == one.source; });
            ++at->changed;
            const std::string why = "read again as " + at->now;
            for (std::size_t i = 0; status.isOk() && i < kAnswerCount; ++i) {
                if (before.at(i) == one.decoded.at(i)) {
                    continue;
                }
                const std::string column(kColumns.at(kFirstAnswer + i).name);
                const std::array set{Value::of(one.decoded.at(i)), Value::of(one.key)};
                const std::string where = " WHERE record_key = " + d.placeholder(2);
                if (one.written) {
                    status = db_->run(
                        db::sqlOf({"UPDATE records_as_written SET ", column, " = ", d.placeholder(1), where}),
                        set);
                }
                // An answer the office corrected stays as the office has it.
                if (status.isOk() && one.now.at(i) == before.at(i)) {
                    status = db_->run(db::sqlOf({"UPDATE ", db::kRecordsTable, " SET ", column, " = ",
                                                 d.placeholder(1), ", revision = revision + 1", where}),
                                      set);
                }
                const std::array history{Value::of(one.key),
                                         Value::of(at_),
                                         Value::of(by_),
                                         Value::of(why),
                                         Value::of(column),
                                         Value::of(before.at(i)),
                                         Value::of(one.decoded.at(i))};
                status = status.isOk()
                             ? db_->run(
                                   "INSERT INTO record_changes (record_key, at, by, why, action, field, "
                                   "old_value, new_value) VALUES (" +
                                       d.placeholder(1) + ", " + d.placeholder(2) + ", " + d.placeholder(3) +
                                       ", " + d.placeholder(4) + ", 'reread', " + d.placeholder(5) + ", " +
                                       d.placeholder(6) + ", " + d.placeholder(7) + ")",
                                   history)
                             : status;
            }
        }
        // The answers decoded anew, to the index (those a clerk corrected are there as well).
        db::AnswerIndexer indexer;
        for (const Found& one : found) {
            if ((one.written ? *one.written : one.now) == one.decoded) {
                continue;  // nothing changed
            }
            std::array<std::string_view, kAnswerCount> decoded{};
            std::copy(one.decoded.begin(), one.decoded.end(), decoded.begin());
            (void)indexer.add(one.source, one.record, decoded);
        }
        status = status.isOk() ? indexer.write(*db_) : status;
        return status;
    }

    static std::uint64_t wholeOf(std::string_view text) {
        std::uint64_t number = 0;
        (void)std::from_chars(text.data(), text.data() + text.size(), number);
        return number;
    }

    // A NUL becomes U+FFFD; the rest is as it was.
    static void replaceNuls(std::string& out, std::string_view value) {
        out.clear();
        for (std::size_t at = 0; at <= value.size();) {
            const std::size_t nul = std::min(value.find('\0', at), value.size());
            out.append(value.substr(at, nul - at)).append(nul < value.size() ? "\xEF\xBF\xBD" : "");
            at = nul + 1;
        }
    }

    // The desk's name as stored; worked out once a file, as the rows of a file share it.
    std::string_view nameOf(std::string_view name) {
        if (name != lastName_) {
            lastName_.assign(name);
            storedName_ = db::storedName(name);
            nameNoted_ = storedName_ != lastName_;
        }
        if (nameNoted_) {
            notes_.push_back({0, kNameNote});
        }
        return storedName_;
    }

    static std::string stagedDefinitions(const db::Dialect& d) {
        std::string definitions;
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            definitions.append(i == 0 ? "" : ", ").append(kColumns.at(i).name).append(" ");
            definitions.append(kColumns.at(i).kind == ColumnKind::whole ? d.integer : d.text)
                .append(" NOT NULL");
        }
        return db::sqlOf({definitions, ", looks ", d.text, " NOT NULL, file ", d.integer,
                          " NOT NULL, content ", d.text, " NOT NULL"});
    }

    // Under the writer's lock, so that no other run makes them meanwhile. A records table that
    // is missing is made without its indexes, which come after the rows.
    Status makeTables() {
        bool records = false;
        Status status = db_->tableExists(db::kRecordsTable, records);
        if (status.isOk() && !records) {
            created_ = true;
            status = db_->run(db::createTable(db_->dialect(), db::recordsTable(), false));
        }
        status = status.isOk() ? makeSchema() : status;
        return status.isOk() && !records ? watchNewTable() : status;
    }

    // The writer's lock; the rows the run adds or takes away meanwhile are not changed by hand
    // (migrate.hpp). For the transaction alone, which a pooled connection does not outlive.
    Status beginWrite() {
        Status status = db_->beginWrite();
        return status.isOk() && db_->dialect().kind == db::Kind::postgres
                   ? db_->run("SET LOCAL " + std::string(db::kCollating) + " = 'on'")
                   : status;
    }

    // A records table this run made is watched for rows changed by hand from the start; until
    // the run commits, no other sees it.
    Status watchNewTable() {
        Status status = db::watchRowsByHand(*db_);
        return status.isOk() ? db::rowsChangedByHand(*db_, handChanges_) : status;
    }

    // The schema's tables that are missing, noting whether the index of answers is among them.
    Status makeSchema() {
        bool answers = false;
        Status status = db_->tableExists(db::answerValuesTable().name, answers);
        answersMade_ = status.isOk() && !answers;
        return status.isOk() ? db::makeSchema(*db_) : status;
    }

    // The run's files, into the staging.
    Status stageFiles() {
        Status status = Status::ok();
        for (std::size_t i = 0; status.isOk() && i < files_.size(); ++i) {
            status = stageFile(i);
        }
        return status;
    }

    Status stageFile(std::size_t i) {
        std::string insert = "INSERT INTO run_files (" + std::string(kRunFilesColumns) + ") VALUES (";
        for (std::size_t n = 1; n <= kRunFilesCount; ++n) {
            insert.append(n > 1 ? ", " : "").append(db_->dialect().placeholder(static_cast<int>(n)));
        }
        insert.append(")");
        const FileRun& file = files_[i];
        const bool last = std::none_of(files_.begin() + static_cast<std::ptrdiff_t>(i) + 1, files_.end(),
                                       [&file](const FileRun& later) { return later.source == file.source; });
        const std::string stored = db::storedName(file.source);
        const auto whole = [](std::uint64_t number) { return Value::of(static_cast<std::int64_t>(number)); };
        std::array<Value, kRunFilesCount> values{whole(i), Value::of(stored), whole(file.fromStart ? 1 : 0),
                                                 whole(file.keeps && last ? 1 : 0)};
        if (file.from) {
            values[4] = whole(file.from->offset);
            values[5] = whole(file.from->records);
            values[6] = Value::of(file.from->tail);
        }
        if (file.reached) {
            values[7] = whole(file.reached->offset);
            values[8] = whole(file.reached->records);
            values[9] = whole(file.reached->lines);
            values[10] = whole(file.reached->tailLength);
            values[11] = Value::of(file.reached->tail);
        }
        values[12] = whole(file.fromStart && file.keeps && file.known ? 1 : 0);
        values[13] = Value::of(file.encoding);
        values[14] = whole(file.reread ? 1 : 0);
        return db_->run(insert, values);
    }

    // The files read after a checkpoint that another run has moved since: each is read again
    // from where that run stopped, its rows staged anew. This run holds the database now, so
    // no other moves it meanwhile.
    Status readMovedAgain(const ReadAgain& readAgain) {
        std::vector<std::uint32_t> moved;
        Status status = db_->run(kMovedCheckpoint, {}, [&moved](const db::Row& row) {
            moved.push_back(static_cast<std::uint32_t>(row.integer(0)));
            return true;
        });
        for (const std::uint32_t file : moved) {
            if (!status.isOk()) {
                break;
            }
            const db::Dialect& d = db_->dialect();
            const std::array where{Value::of(std::int64_t{file})};
            std::uint64_t dropped = 0;
            status = db_->run("DELETE FROM incoming WHERE file = " + d.placeholder(1), where, {}, &dropped);
            status = status.isOk() ? db_->run("DELETE FROM run_files WHERE file = " + d.placeholder(1), where)
                                   : status;
            rows_ -= dropped;
            DeskState now;
            status =
                status.isOk() ? deskState(db::storedName(files_.at(file).source), true, false, now) : status;
            status = status.isOk() ? startLoad() : status;
            FileRun again = files_.at(file);
            status = status.isOk() ? readAgain(file, now.checkpoint, again) : status;
            status = status.isOk() ? load_->finish() : status;
            load_.reset();
            if (status.isOk()) {
                again.encoding = files_.at(file).encoding;
                again.known = files_.at(file).known;
                files_.at(file) = std::move(again);
                status = stageFile(file);
            }
        }
        return status;
    }

    // The rows into the table this run made, then its unique index. Without an index to skip
    // them, a key that the run holds twice (the same record in two files) fails the index: all
    // but the first row of each such key then go, as skipping would have kept.
    Status fillNewTable(std::uint64_t& added) {
        const std::vector<std::string> statements = insertRows(db_->dialect(), false);
        Status status = db_->runAll(std::span(statements).first(statements.size() - 1));
        status = status.isOk() ? db_->run(statements.back(), {}, {}, &added) : status;
        return status.isOk() ? addUnique([&] {
            if (db_->dialect().kind != db::Kind::sqlite) {
                std::uint64_t dropped = 0;
                Status dropping = db_->run(deleteLaterDuplicates(), {}, {}, &dropped);
                added -= dropped;
                return dropping;
            }
            // Added again, the first of each key only, so that the rowids still follow the
            // records without a gap.
            Status again = db_->run("DELETE FROM " + std::string(db::kRecordsTable));
            again = again.isOk() ? db_->run(
                                       "DELETE FROM temp.ordinals WHERE id NOT IN (SELECT min(o.id) FROM "
                                       "temp.ordinals o JOIN temp.incoming i ON i.rowid = o.id "
                                       "GROUP BY i.content, o.ordinal)")
                                 : again;
            return again.isOk() ? db_->run(statements.back(), {}, {}, &added) : again;
        })
                             : status;
    }

    // The rows that went straight in, each keyed as the first of its content in its file: where
    // every key is then distinct, as in most runs, they are right as they are, and no count needs
    // keeping. Otherwise the later records of one content in a file are numbered on, and of a
    // record in several files the earliest file's row is kept. Each file has a source of its own
    // here, and each of its records a number of its own.
    Status keyDirectRows(std::uint64_t& added) {
        const db::Dialect& d = db_->dialect();
        const std::string table(db::kRecordsTable);
        const std::string at(d.rowLocator);
        const std::string content = "substr(record_key, 1, " + std::to_string(kContentLength) + ")";
        Status status = addUnique([&] {
            // Counted before a row is numbered on or dropped: each file's records of each content.
            Status mended = db_->run(
                "INSERT INTO collate_counts (source, content, times) SELECT r.source, substr(r.record_key, "
                "1, " +
                std::to_string(kContentLength) + "), count(*) FROM " + table +
                " r JOIN run_files f ON f.source = r.source WHERE f.keeps = 1 AND "
                "f.to_offset IS NOT NULL GROUP BY 2, 1");
            mended = mended.isOk()
                         ? db_->run("UPDATE " + table + " SET record_key = " + content +
                                    " || '-' || n.ordinal FROM (SELECT " + at +
                                    " AS at, row_number() OVER (PARTITION BY record_key, source ORDER BY "
                                    "record) AS ordinal FROM " +
                                    table + ") AS n WHERE n.ordinal > 1 AND " + table + "." + at + " = n.at")
                         : mended;
            std::uint64_t dropped = 0;
            if (mended.isOk() && files_.size() > 1) {  // one file has no record in another
                mended =
                    db_->run("DELETE FROM " + table + " WHERE " + at + " IN (SELECT later." + at + " FROM " +
                                 table + " later JOIN " + table +
                                 " first ON first.record_key = later.record_key JOIN run_files fl ON "
                                 "fl.source = later.source JOIN run_files ff ON ff.source = first.source "
                                 "WHERE ff.file < fl.file)",
                             {}, {}, &dropped);
                added -= dropped;
            }
            if (mended.isOk() && dropped > 0 && d.kind == db::Kind::sqlite) {
                // Added again in order, so that the rowids still follow the records without a gap,
                // as a run adding to an existing table leaves them.
                const std::vector<std::string> again{
                    "CREATE TEMP TABLE kept_in_order AS SELECT * FROM " + table + " ORDER BY rowid",
                    "DELETE FROM " + table,
                    "INSERT INTO " + table + " SELECT * FROM kept_in_order ORDER BY rowid",
                    "DROP TABLE kept_in_order"};
                mended = db_->runAll(again);
            }
            return mended;
        });
        // Only once the key's index is there: each count is checked by a range of keys, which
        // without it read the whole table for every content (hours for a file of records each
        // written twice).
        return status.isOk() ? db_->run(pruneCounts("SELECT source FROM run_files")) : status;
    }

    // Adds the unique key's index; where two rows share a key, `mend` makes them right first.
    template <typename Mend>
    Status addUnique(Mend mend) {
        const std::string index = db::createIndex(db::recordsTable(), db::recordsTable().indexes[0], false);
        Status status = db_->run("SAVEPOINT rows_in");
        status = status.isOk() ? db_->run(index) : status;
        if (status.code() == Status::Code::conflict) {
            status = db_->run("ROLLBACK TO SAVEPOINT rows_in");
            status = status.isOk() ? mend() : status;
            status = status.isOk() ? db_->run(index) : status;
        }
        return status.isOk() ? db_->run("RELEASE SAVEPOINT rows_in") : status;
    }

    std::unique_ptr<db::Database> db_;
    std::string by_;  // for the history of the changes the run makes to records already there
    std::string at_;
    db::Teller tell_;
    std::unique_ptr<db::BulkLoad> load_;
    // The export's columns, what needs a look, and the file and content, or the key.
    static constexpr std::size_t kLoaded = kColumnCount + 3;
    std::array<Value, kLoaded> values_{};
    std::string looks_;
    std::array<std::string, kColumnCount> replaced_;
    std::vector<Note> notes_;
    std::string lastName_;
    std::string storedName_;
    bool nameNoted_ = false;
    std::string key_;
    std::uint64_t rows_ = 0;
    std::vector<FileRun> files_;
    // The length of the log of rows changed by hand as the run began, where it is kept.
    std::optional<std::int64_t> handChanges_;
    bool created_ = false;      // the records table is this run's own, not yet seen by others
    bool direct_ = false;       // its rows go straight in
    bool answersMade_ = false;  // the index of answers is this run's own
    db::AnswerIndexer indexer_;
    std::array<std::string_view, kAnswerCount> answers_{};
};

}  // namespace

Result<std::unique_ptr<CollateTarget>> openTarget(const std::string& into, int waitSeconds,
                                                  const db::Teller& tell, const std::string& by,
                                                  const std::string& at, const db::Opener& opener) {
    Result<std::unique_ptr<db::Database>> opened =
        db::openOffice(into, db::Access::write, db::OpenOptions{"--into", waitSeconds, {}, {}, opener}, tell);
    if (!opened.isOk()) {
        return opened.status();
    }
    return std::unique_ptr<CollateTarget>(
        std::make_unique<DatabaseTarget>(std::move(opened).value(), by, at, tell));
}

}  // namespace profiledesk::office
