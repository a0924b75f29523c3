#include "office/db/answer_index.hpp"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <set>
#include <utility>

#include "office/columns.hpp"
#include "office/db/schema.hpp"
#include "office/fold/fold.hpp"

namespace profiledesk::office::db {

namespace {

// The trigram search of answer_values' folded text: an FTS5 table in SQLite, an index in
// PostgreSQL.
constexpr std::string_view kSearch = "answer_values_folded";
// The rows read between two writes, where the database cannot write while it reads.
constexpr std::size_t kPage = 4096;
// A list this long is written when the lists take their memory; shorter ones wait, to be
// written in fewer rows.
constexpr std::size_t kLongList = 1024;
// Records the index may name before every record is read instead: named one by one in the
// query, more would cost what a read of all of them costs.
constexpr std::size_t kNamedAtMost = 100000;
// The trigram indexes match texts of three characters or more.
constexpr std::size_t kShortestIndexed = 3;

std::string answerColumns(std::string_view prefix) {
    std::string list;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        list.append(i == kFirstAnswer ? "" : ", ").append(prefix).append(kColumns.at(i).name);
    }
    return list;
}

// Reads each row of `select` to `read`; `between` runs wherever the database can write again.
// SQLite writes while it reads; PostgreSQL reads a page at a time through a cursor.
Status readThenWrite(Database& db, const std::string& select, std::span<const Value> values,
                     const std::function<void(const Row&)>& read, const std::function<Status()>& between) {
    if (db.dialect().kind == Kind::sqlite) {
        Status written = Status::ok();
        Status status = db.run(select, values, [&](const Row& row) {
            read(row);
            written = between();
            return written.isOk();
        });
        return status.isOk() ? written : status;
    }
    Status status = db.run("DECLARE answer_rows NO SCROLL CURSOR FOR " + select, values);
    for (std::size_t got = kPage; status.isOk() && got == kPage;) {
        got = 0;
        status = db.run("FETCH " + std::to_string(kPage) + " FROM answer_rows", {}, [&](const Row& row) {
            read(row);
            ++got;
            return true;
        });
        status = status.isOk() ? between() : status;
    }
    return status.isOk() ? db.run("CLOSE answer_rows") : status;
}

// Indexes the rows of `select`: each a desk, a record number and the answers.
Status indexRows(Database& db, const std::string& select, std::span<const Value> values) {
    AnswerIndexer indexer;
    std::array<std::string_view, kAnswerCount> answers{};
    Status status = readThenWrite(
        db, select, values,
        [&](const Row& row) {
            for (std::size_t i = 0; i < kAnswerCount; ++i) {
                answers.at(i) = row.text(2 + i);
            }
            (void)indexer.add(row.text(0), row.integer(1), answers);
        },
        [&] { return indexer.due() ? indexer.write(db, false) : Status::ok(); });
    return status.isOk() ? indexer.write(db) : status;
}

std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

// A text as the pattern of LIKE that finds it anywhere: its own %, _ and \ taken as themselves.
std::string likeAnywhere(std::string_view text) {
    std::string pattern("%");
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\') {
            pattern.push_back('\\');
        }
        pattern.push_back(c);
    }
    return pattern.append("%");
}

// A text as an FTS5 phrase: within quotes, a quote is doubled.
std::string phraseOf(std::string_view text) {
    std::string phrase("\"");
    for (const char c : text) {
        phrase.append(c == '"' ? "\"\"" : std::string_view(&c, 1));
    }
    return phrase.append("\"");
}

}  // namespace

std::size_t AnswerIndexer::Hash::operator()(std::string_view text) const {
    return static_cast<std::size_t>(XXH3_64bits(text.data(), text.size()));
}

bool AnswerIndexer::add(std::string_view source, std::int64_t record,
                        std::span<const std::string_view> answers) {
    if (lists_ == nullptr || source != desk_) {
        auto desk = desks_.find(source);
        if (desk == desks_.end()) {
            desk = desks_.emplace(std::string(source), Lists{}).first;
        }
        desk_ = desk->first;
        lists_ = &desk->second;
    }
    for (const std::string_view answer : answers) {
        if (answer.empty()) {
            continue;
        }
        auto found = lists_->find(answer);
        if (found == lists_->end()) {
            // An answer new to this run; those there already add nothing to answer_values.
            fresh_.emplace_back(answer);
            found = lists_->emplace(answer, List{}).first;
            ++entries_;
        }
        List& list = found->second;
        if (!list.steps.empty() && list.last == record) {
            continue;  // the same answer twice in one record
        }
        std::array<char, 24> digits{};
        const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), record - list.last);
        const std::size_t before = list.steps.size();
        if (before > 0) {
            list.steps.push_back(',');
        }
        list.steps.append(digits.data(), written.ptr);
        list.last = record;
        steps_ += list.steps.size() - before;
    }
    return due();
}

Status AnswerIndexer::writeLists(BulkLoad& load, const std::string& desk, Lists& lists,
                                 std::size_t shortest) {
    Status status = Status::ok();
    for (auto& [answer, list] : lists) {
        if (!status.isOk()) {
            break;
        }
        if (list.steps.empty() || list.steps.size() < shortest) {
            continue;
        }
        const std::array row{Value::of(answer), Value::of(desk), Value::of(list.steps)};
        status = load.add(row);
        steps_ -= std::min(steps_, list.steps.size());
        // The next list starts from nothing, as its own row; the memory goes back at once, or
        // the lists would keep what their longest ever took, and a run's memory grow with it.
        std::string().swap(list.steps);
        list.last = 0;
    }
    return status;
}

Status AnswerIndexer::write(Database& db, bool everything) {
    const Dialect& d = db.dialect();
    Status status = Status::ok();
    if (!fresh_.empty()) {
        std::string staging =
            d.tempTable("answer_new", sqlOf({"value ", d.text, " NOT NULL, folded ", d.text, " NOT NULL"}));
        staging.insert(std::string_view("CREATE TEMP TABLE ").size(), "IF NOT EXISTS ");
        status = db.run(staging);
        constexpr std::array<bool, 2> kTexts{false, false};
        if (status.isOk()) {
            Result<std::unique_ptr<BulkLoad>> load = db.load("answer_new", "value, folded", kTexts, false);
            status = load.status();
            for (std::size_t i = 0; status.isOk() && i < fresh_.size(); ++i) {
                const std::string folded = foldCase(fresh_[i]);
                const std::array row{Value::of(fresh_[i]), Value::of(folded)};
                status = load.value()->add(row);
            }
            if (load.isOk()) {
                const Status finished = load.value()->finish();
                status = status.isOk() ? finished : status;
            }
        }
        status = status.isOk() ? db.run(
                                     "INSERT INTO answer_values (value, folded) SELECT value, folded FROM "
                                     "answer_new WHERE true ON CONFLICT (value) DO NOTHING")
                               : status;
        status = status.isOk() ? db.run("DELETE FROM answer_new") : status;
        fresh_.clear();
    }
    // The long lists; the short ones too where they alone take half the memory, or at the end.
    std::size_t longSteps = 0;
    for (const auto& [desk, lists] : desks_) {
        for (const auto& [answer, list] : lists) {
            longSteps += list.steps.size() >= kLongList ? list.steps.size() : 0;
        }
    }
    const bool forget = entries_ >= kMostEntries;
    everything = everything || forget || steps_ - longSteps >= kMemory / 2;
    if (status.isOk() && steps_ > 0 && (everything || longSteps > 0)) {
        constexpr std::array<bool, 3> kTexts{false, false, false};
        Result<std::unique_ptr<BulkLoad>> load =
            db.load("answer_postings", "value, source, records", kTexts, false);
        status = load.status();
        for (auto at = desks_.begin(); status.isOk() && at != desks_.end(); ++at) {
            status = writeLists(*load.value(), at->first, at->second, everything ? 1 : kLongList);
        }
        if (load.isOk()) {
            const Status finished = load.value()->finish();
            status = status.isOk() ? finished : status;
        }
    }
    if (forget) {
        desks_.clear();
        lists_ = nullptr;
        entries_ = 0;
    }
    return status;
}

Status makeAnswerSearch(Database& db, const Teller& tell) {
    const std::string values(answerValuesTable().name);
    const std::string search(kSearch);
    if (db.dialect().kind == Kind::sqlite) {
        // The folded text is already folded: the tokenizer keeps it as it is. The search's rows
        // follow answer_values' by triggers, whoever changes them.
        const Status status =
            db.run("CREATE VIRTUAL TABLE " + search + " USING fts5(folded, content='" + values +
                   "', content_rowid='rowid', tokenize='trigram case_sensitive 1')");
        if (!status.isOk()) {
            tell(db.name() + ": the index of answers cannot be searched by their parts (" + status.message() +
                 "); find --from-db reads every answer instead");
            return Status::ok();
        }
        const std::string remove = "INSERT INTO " + search + " (" + search +
                                   ", rowid, folded) VALUES ('delete', old.rowid, old.folded); ";
        const std::string add = "INSERT INTO " + search + " (rowid, folded) VALUES (new.rowid, new.folded); ";
        const std::array<std::string, 4> made{
            "INSERT INTO " + search + " (" + search + ") VALUES ('rebuild')",
            "CREATE TRIGGER " + search + "_added AFTER INSERT ON " + values + " BEGIN " + add + "END",
            "CREATE TRIGGER " + search + "_removed AFTER DELETE ON " + values + " BEGIN " + remove + "END",
            "CREATE TRIGGER " + search + "_changed AFTER UPDATE ON " + values + " BEGIN " + remove + add +
                "END",
        };
        return db.runAll(made);
    }
    // pg_trgm is a trusted extension: the database's owner may make it. Where no one has and this
    // role may not, the answers are searched without an index, and the run says so.
    Status status = db.run("SAVEPOINT answer_search");
    status = status.isOk() ? db.run("CREATE EXTENSION IF NOT EXISTS pg_trgm") : status;
    status = status.isOk()
                 ? db.run("CREATE INDEX " + search + " ON " + values + " USING gin (folded gin_trgm_ops)")
                 : status;
    if (!status.isOk()) {
        tell(db.name() + ": the index of answers cannot be searched by their parts (" + status.message() +
             "); find --from-db reads every answer instead");
        return db.run("ROLLBACK TO SAVEPOINT answer_search");
    }
    return db.run("RELEASE SAVEPOINT answer_search");
}

Status indexRecords(Database& db, std::string_view where, std::span<const Value> values) {
    return indexRows(
        db, sqlOf({"SELECT source, record, ", answerColumns(""), " FROM ", kRecordsTable, where}), values);
}

Status indexAnswers(Database& db, std::string_view source, std::int64_t record,
                    std::span<const std::string> answers) {
    bool indexed = false;
    Status status = db.tableExists(answerValuesTable().name, indexed);
    if (!status.isOk() || !indexed) {
        return status;  // made, and filled, when the database is carried forward
    }
    std::vector<std::string_view> views(answers.begin(), answers.end());
    AnswerIndexer indexer;
    (void)indexer.add(source, record, views);
    return indexer.write(db);
}

Status unindexAnswers(Database& db, std::string_view key, std::string_view source, std::int64_t record,
                      std::span<const std::string> answers) {
    bool indexed = false;
    Status status = db.tableExists(answerValuesTable().name, indexed);
    if (!status.isOk() || !indexed) {
        return status;
    }
    const Dialect& d = db.dialect();
    const std::string at(d.rowLocator);
    // Another record of the same desk and number (one gone from the desk's file, and the one
    // that took its place) keeps the number in the lists of its own answers.
    std::set<std::string, std::less<>> kept;
    const std::array place{Value::of(source), Value::of(record), Value::of(key)};
    status = db.run(
        sqlOf({"SELECT ", answerColumns(""), " FROM ", kRecordsTable, " WHERE source = ", d.placeholder(1),
               " AND record = ", d.placeholder(2), " AND record_key <> ", d.placeholder(3)}),
        place, [&kept](const Row& row) {
            for (std::size_t i = 0; i < kAnswerCount; ++i) {
                kept.emplace(row.text(i));
            }
            return true;
        });
    std::set<std::string, std::less<>> answersOnce(answers.begin(), answers.end());
    bool removed = false;
    for (const std::string& answer : answersOnce) {
        if (!status.isOk()) {
            break;
        }
        if (answer.empty()) {
            continue;
        }
        // Its lists for the desk, without the record.
        struct Kept {
            std::string at;
            std::vector<std::int64_t> records;
        };
        std::vector<Kept> lists;
        const std::array of{Value::of(answer), Value::of(source)};
        status = kept.contains(answer)
                     ? status
                     : db.run(sqlOf({"SELECT ", at, ", records FROM answer_postings WHERE value = ",
                                     d.placeholder(1), " AND source = ", d.placeholder(2)}),
                              of, [&](const Row& row) {
                                  Kept list{std::string(row.text(0)), {}};
                                  decodeRecords(row.text(1), list.records);
                                  if (std::find(list.records.begin(), list.records.end(), record) !=
                                      list.records.end()) {
                                      std::erase(list.records, record);
                                      lists.push_back(std::move(list));
                                  }
                                  return true;
                              });
        for (const Kept& list : lists) {
            if (!status.isOk()) {
                break;
            }
            const std::string records = encodeRecords(list.records);
            const std::array change{Value::of(records), Value::of(list.at)};
            status = list.records.empty()
                         ? db.run(sqlOf({"DELETE FROM answer_postings WHERE ", at, " = ", d.placeholder(1)}),
                                  std::span(change).subspan(1))
                         : db.run(sqlOf({"UPDATE answer_postings SET records = ", d.placeholder(1), " WHERE ",
                                         at, " = ", d.placeholder(2)}),
                                  change);
        }
        // Whether any record still holds it, by its lists; the first that does ends the look.
        bool held = false;
        std::vector<std::pair<std::string, std::vector<std::int64_t>>> holders;
        const std::array value{Value::of(answer)};
        status = status.isOk()
                     ? db.run("SELECT source, records FROM answer_postings WHERE value = " + d.placeholder(1),
                              value,
                              [&holders](const Row& row) {
                                  holders.emplace_back(std::string(row.text(0)), std::vector<std::int64_t>{});
                                  decodeRecords(row.text(1), holders.back().second);
                                  return true;
                              })
                     : status;
        // The answer is the third value, named by its number where it is named again and again.
        const std::string third = d.kind == Kind::sqlite ? "?3" : "$3";
        std::string holds = " AND (";
        for (std::size_t i = 0; i < kAnswerCount; ++i) {
            holds.append(i == 0 ? "" : " OR ").append(kColumns.at(kFirstAnswer + i).name).append(" = ");
            holds.append(third);
        }
        holds.append(")");
        for (std::size_t h = 0; status.isOk() && !held && h < holders.size(); ++h) {
            for (std::size_t r = 0; status.isOk() && !held && r < holders[h].second.size(); ++r) {
                const std::array one{Value::of(holders[h].first), Value::of(holders[h].second[r]),
                                     Value::of(answer)};
                std::int64_t found = 0;
                status = db.number(sqlOf({"SELECT count(*) FROM ", kRecordsTable,
                                          " WHERE source = ", d.kind == Kind::sqlite ? "?1" : "$1",
                                          " AND record = ", d.kind == Kind::sqlite ? "?2" : "$2", holds}),
                                   found, 0, one);
                held = found > 0;
            }
        }
        if (status.isOk() && !held) {
            status = db.run("DELETE FROM answer_postings WHERE value = " + d.placeholder(1), value);
            status = status.isOk()
                         ? db.run("DELETE FROM answer_values WHERE value = " + d.placeholder(1), value)
                         : status;
            removed = true;
        }
    }
    bool search = false;
    status = status.isOk() && removed && d.kind == Kind::sqlite ? db.tableExists(kSearch, search) : status;
    if (status.isOk() && search) {
        // FTS5 keeps what was deleted in its segments until they are merged: merged now, all of
        // them, so that nothing of the answers taken out stays in the file.
        status = db.run(sqlOf({"INSERT INTO ", kSearch, " (", kSearch, ") VALUES ('optimize')"}));
    }
    return status;
}

Status recordsThatMayHold(Database& db, CaselessSearch& search, RecordNumbers& records, bool& indexed) {
    Status status = db.tableExists(answerValuesTable().name, indexed);
    if (!status.isOk() || !indexed) {
        return status;
    }
    std::vector<std::string> matched;
    const auto take = [&search, &matched](const Row& row) {
        const std::string_view answer = row.text(0);
        if (search.foundIn(answer)) {
            matched.emplace_back(answer);
        }
        return true;
    };
    const std::string& folded = search.folded();
    if (db.dialect().kind == Kind::sqlite) {
        bool trigrams = false;
        status = db.tableExists(kSearch, trigrams);
        if (status.isOk() && trigrams && characters(folded) >= kShortestIndexed) {
            const std::string phrase = phraseOf(folded);
            const std::array match{Value::of(phrase)};
            status =
                db.run(sqlOf({"SELECT v.value FROM ", kSearch,
                              " s JOIN answer_values v ON v.rowid = s.rowid WHERE ", kSearch, " MATCH ?"}),
                       match, take);
        } else if (status.isOk()) {
            const std::array part{Value::of(folded)};
            status = db.run("SELECT value FROM answer_values WHERE instr(folded, ?) > 0", part, take);
        }
    } else {
        // With pg_trgm's index where it could be made; without, the same answers, read through.
        const std::string pattern = likeAnywhere(folded);
        const std::array like{Value::of(pattern)};
        status = db.run("SELECT value FROM answer_values WHERE folded LIKE $1", like, take);
    }
    for (std::size_t i = 0; status.isOk() && i < matched.size(); ++i) {
        const std::array value{Value::of(matched[i])};
        status =
            db.run("SELECT source, records FROM answer_postings WHERE value = " + db.dialect().placeholder(1),
                   value, [&records](const Row& row) {
                       decodeRecords(row.text(1), records[std::string(row.text(0))]);
                       return true;
                   });
    }
    for (auto& [source, numbers] : records) {
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    }
    return status;
}

Result<const RecordNumbers*> narrowSearch(Database& db, CaselessSearch& search, RecordNumbers& named) {
    bool indexed = false;
    const Status status = recordsThatMayHold(db, search, named, indexed);
    if (!status.isOk()) {
        return status;
    }
    std::size_t many = 0;
    for (const auto& [source, records] : named) {
        many += records.size();
    }
    return indexed && many <= kNamedAtMost ? &named : nullptr;
}

std::string encodeRecords(std::span<const std::int64_t> records) {
    std::string list;
    std::int64_t last = 0;
    for (const std::int64_t record : records) {
        list.append(list.empty() ? "" : ",").append(std::to_string(record - last));
        last = record;
    }
    return list;
}

void decodeRecords(std::string_view list, std::vector<std::int64_t>& records) {
    std::int64_t last = 0;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        std::int64_t step = 0;
        (void)std::from_chars(list.data() + at, list.data() + comma, step);
        last += step;
        records.push_back(last);
        at = comma + 1;
    }
}

}  // namespace profiledesk::office::db
