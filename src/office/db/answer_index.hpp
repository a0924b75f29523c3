#pragma once

// The index of answers, by which find --from-db picks the few records that may hold a text
// instead of reading every record:
// - answer_values holds each answer that some record holds, once, beside its folded text, which
//   a trigram index searches by any part of it (SQLite's FTS5, PostgreSQL's pg_trgm);
// - answer_postings holds, for an answer and a desk, the numbers of the desk's records that hold
//   it, a list to a row.
// An answer's records are found by its lists, then read and searched as the files are, so that
// the index only ever has to name too many, never too few. Every collate, correction and
// erasure keeps it in step; an erasure leaves nothing of the answers it took out.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/status.hpp"
#include "office/db/database.hpp"
#include "office/db/migrate.hpp"
#include "office/fold/caseless.hpp"

namespace profiledesk::office::db {

// Each desk's record numbers.
using RecordNumbers = std::map<std::string, std::vector<std::int64_t>>;

// Gathers which records hold which answers, in memory of a bounded size, for write() to add to
// the index in a few large batches.
class AnswerIndexer {
public:
    // The bytes the lists may take before write() is due.
    static constexpr std::size_t kMemory = std::size_t{1} << 20;
    // The lists kept from one write to the next, the answers of a desk's records known to them:
    // past this many, write() writes and forgets them all.
    static constexpr std::size_t kMostEntries = std::size_t{1} << 14;

    // Notes that record `record` of desk `source` (its name as stored) holds `answers`; an
    // empty one holds nothing to find. Returns whether write() is due.
    bool add(std::string_view source, std::int64_t record, std::span<const std::string_view> answers);
    // Adds what was gathered to the index: the answers it lacks, with their folding, and the
    // records of each; unless `everything`, only the long lists, while the short ones may wait
    // to be written in fewer rows. The database must be free (no bulk load under way).
    Status write(Database& db, bool everything = true);
    [[nodiscard]] bool due() const { return steps_ >= kMemory || entries_ >= kMostEntries; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const;
    };
    // A desk's records that hold one answer, since the last write.
    struct List {
        std::string steps;  // each record as its step from the one before, by commas
        std::int64_t last = 0;
    };
    using Lists = std::unordered_map<std::string, List, Hash, std::equal_to<>>;

    // Writes the lists of `desk` that are at least `shortest` long.
    Status writeLists(BulkLoad& load, const std::string& desk, Lists& lists, std::size_t shortest);

    std::map<std::string, Lists, std::less<>> desks_;  // each desk's lists, kept from one write to the next
    std::string_view desk_;                            // the desk of the last record added
    Lists* lists_ = nullptr;                           // and its lists
    std::vector<std::string> fresh_;                   // answers to add to answer_values
    std::size_t entries_ = 0;                          // lists
    std::size_t steps_ = 0;                            // the bytes of the lists' steps
};

// Makes the trigram search of the answers' folded text, once answer_values holds its first
// ones (sooner, the index would take them one at a time). Where it cannot be made (no FTS5 in
// this SQLite, no right to make pg_trgm), says so through `tell`; find then reads every answer.
Status makeAnswerSearch(Database& db, const Teller& tell);

// Indexes the records that `where` (" WHERE ...", with its values) takes, or else every record
// the database holds: the records a collate added, or a database made before the index.
Status indexRecords(Database& db, std::string_view where = {}, std::span<const Value> values = {});

// Indexes one record's answers: a correction, or answers decoded anew.
Status indexAnswers(Database& db, std::string_view source, std::int64_t record,
                    std::span<const std::string> answers);

// Takes the record `key` (record `record` of desk `source`) out of the lists of `answers`, those
// it holds or held, and takes each of them that no record holds any more out of the index
// altogether: an erasure.
Status unindexAnswers(Database& db, std::string_view key, std::string_view source, std::int64_t record,
                      std::span<const std::string> answers);

// The records that may hold what `search` looks for: each desk's record numbers, in order.
// `indexed` is false where the database has no index of answers: every record must be read.
Status recordsThatMayHold(Database& db, CaselessSearch& search, RecordNumbers& records, bool& indexed);

// The records a search for `search` has to read, as a RecordFilter's `only`: those the index
// names, kept in `named`; or nullptr for every record, where there is no index or it names so
// many that reading them all is as quick.
Result<const RecordNumbers*> narrowSearch(Database& db, CaselessSearch& search, RecordNumbers& named);

// A list of record numbers as answer_postings keeps it, and back.
std::string encodeRecords(std::span<const std::int64_t> records);
void decodeRecords(std::string_view list, std::vector<std::int64_t>& records);

}  // namespace profiledesk::office::db
