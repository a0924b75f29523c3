#include "office/corrections/corrections.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>

#include "common/utf8.hpp"
#include "office/db/answer_index.hpp"
#include "office/db/schema.hpp"
#include "office/quality.hpp"

namespace profiledesk::office {

namespace {

using db::Value;

constexpr std::size_t kShortestPrefix = 8;

// "?"s or "$n"s for `count` values from the n-th on.
std::string placeholders(const db::Dialect& dialect, int from, int count) {
    std::string marks;
    for (int i = 0; i < count; ++i) {
        marks.append(i == 0 ? "" : ", ").append(dialect.placeholder(from + i));
    }
    return marks;
}

// Adds one change to a record's history.
Status keep(db::Database& db, const std::string& key, const Clerk& clerk, const std::string& why,
            std::string_view action, std::string_view field, std::string_view oldValue,
            std::string_view newValue) {
    const std::array values{Value::of(key),    Value::of(clerk.at), Value::of(clerk.by), Value::of(why),
                            Value::of(action), Value::of(field),    Value::of(oldValue), Value::of(newValue)};
    return db.run(
        "INSERT INTO record_changes (record_key, at, by, why, action, field, old_value, new_value) VALUES (" +
            placeholders(db.dialect(), 1, 8) + ")",
        values);
}

// A change is one transaction, under the writer's lock; the records are read again inside it.
template <typename Apply>
Status inOneTransaction(db::Database& db, std::span<const std::string> keys,
                        std::optional<std::int64_t> revision, Apply apply) {
    Status status = db.beginWrite();
    for (std::size_t i = 0; status.isOk() && i < keys.size(); ++i) {
        Result<OfficeRecord> record = readRecord(db, keys[i]);
        if (!record.isOk()) {
            status = record.status();
        } else if (revision && record.value().revision != *revision) {
            status = Status::failure(Status::Code::conflict,
                                     keys[i] + ": changed meanwhile by another clerk (now at revision " +
                                         std::to_string(record.value().revision) + "); look at it again");
        } else {
            status = apply(record.value());
        }
    }
    status = status.isOk() ? db.commit() : status;
    if (!status.isOk()) {
        db.rollback();
    }
    return status;
}

// The record's number in its desk's file.
std::int64_t numberOf(const OfficeRecord& record) {
    std::int64_t number = 0;
    const std::string& text = record.now.at(1);
    (void)std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

// A text a clerk gives for an answer or a reason: UTF-8, without control characters.
Status checkText(std::string_view what, const std::string& text) {
    const bool controls = std::any_of(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
    if (!isUtf8(text) || controls) {
        return Status::usage(std::string(what) + " must be UTF-8 text without control characters");
    }
    return Status::ok();
}

}  // namespace

Result<std::string> clerkName(db::Database& db, const std::string& given, const std::string& login) {
    if (db.dialect().kind == db::Kind::postgres) {
        std::string role;
        Status status = db.run("SELECT current_user", {}, [&role](const db::Row& row) {
            role.assign(row.text(0));
            return false;
        });
        if (!status.isOk()) {
            return status;
        }
        if (!given.empty() && given != role) {
            return Status::usage("--by: on PostgreSQL a change is made by the role it connects as (" + role +
                                 "); connect as " + given + " instead");
        }
        return role;
    }
    std::string by = given.empty() ? login : given;
    if (by.empty()) {
        return Status::usage("--by: no login name to record the change under; name the clerk");
    }
    if (Status checked = checkText("--by", by); !checked.isOk()) {
        return checked;
    }
    return by;
}

Result<std::vector<std::string>> resolveKeys(db::Database& db, std::span<const std::string> keys) {
    std::vector<std::string> found;
    const db::Dialect& d = db.dialect();
    const std::string table(db::kRecordsTable);
    for (const std::string& key : keys) {
        if (key.size() < kShortestPrefix) {
            return Status::usage(key + ": a key is named by at least its first " +
                                 std::to_string(kShortestPrefix) + " characters");
        }
        // The key itself, or every key that starts with it: keys are hex digits, '-' and digits,
        // all below '~', so the range on the unique index holds exactly those.
        std::vector<std::string> matches;
        const std::string past = key + "~";
        const std::array values{Value::of(key), Value::of(past)};
        Status status =
            db.run("SELECT record_key FROM " + table + " WHERE record_key >= " + d.placeholder(1) +
                       " AND record_key < " + d.placeholder(2) + " ORDER BY record_key LIMIT 2",
                   values, [&matches](const db::Row& row) {
                       matches.emplace_back(row.text(0));
                       return true;
                   });
        if (!status.isOk()) {
            return status;
        }
        if (!matches.empty() && matches.front() == key) {
            matches.resize(1);
        }
        if (matches.empty()) {
            return Status::failure(Status::Code::notFound, key + ": no record has this key");
        }
        if (matches.size() > 1) {
            return Status::usage(key + ": more than one record's key starts so; give more of it");
        }
        if (std::find(found.begin(), found.end(), matches.front()) == found.end()) {
            found.push_back(matches.front());
        }
    }
    return found;
}

Result<OfficeRecord> readRecord(db::Database& db, const std::string& key) {
    OfficeRecord record;
    bool there = false;
    const std::array values{Value::of(key)};
    const std::string where = " WHERE record_key = " + db.dialect().placeholder(1);
    Status status = db.run("SELECT " + db::valueColumns() + ", state, gone, forgotten, revision FROM " +
                               std::string(db::kRecordsTable) + where,
                           values, [&](const db::Row& row) {
                               for (std::size_t i = 0; i < kColumnCount; ++i) {
                                   record.now.at(i).assign(row.text(i));
                               }
                               record.state.assign(row.text(kColumnCount));
                               record.gone = row.integer(kColumnCount + 1) != 0;
                               record.forgotten = row.integer(kColumnCount + 2) != 0;
                               record.revision = row.integer(kColumnCount + 3);
                               there = true;
                               return false;
                           });
    if (status.isOk() && !there) {
        return Status::failure(Status::Code::notFound, key + ": no record has this key");
    }
    record.key = key;
    // Absent from the written answers, a record is as the desk wrote it.
    for (std::size_t i = 0; i < kAnswerCount; ++i) {
        record.written.at(i) = record.now.at(kFirstAnswer + i);
    }
    std::string answers;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        answers.append(i == kFirstAnswer ? "" : ", ").append(kColumns.at(i).name);
    }
    status = status.isOk() ? db.run("SELECT " + answers + " FROM records_as_written" + where, values,
                                    [&record](const db::Row& row) {
                                        for (std::size_t i = 0; i < kAnswerCount; ++i) {
                                            record.written.at(i).assign(row.text(i));
                                        }
                                        return false;
                                    })
                           : status;
    status =
        status.isOk()
            ? db.run("SELECT at, by, why, action, field, old_value, new_value FROM record_changes" + where +
                         " ORDER BY id",
                     values,
                     [&record](const db::Row& row) {
                         record.history.push_back(Change{std::string(row.text(0)), std::string(row.text(1)),
                                                         std::string(row.text(2)), std::string(row.text(3)),
                                                         std::string(row.text(4)), std::string(row.text(5)),
                                                         std::string(row.text(6))});
                         return true;
                     })
            : status;
    if (!status.isOk()) {
        return status;
    }
    return record;
}

Status correct(db::Database& db, std::span<const std::string> keys, std::span<const FieldValue> values,
               const Clerk& clerk, const std::string& why, std::optional<std::int64_t> revision,
               std::size_t* changed) {
    std::vector<std::size_t> columns;
    for (const FieldValue& value : values) {
        Result<std::size_t> column = answerColumn(value.field);
        if (!column.isOk()) {
            return column.status();
        }
        if (Status checked = checkText(value.field, value.value); !checked.isOk()) {
            return checked;
        }
        if (kColumns.at(column.value()).kind == ColumnKind::figure && !parseFigure(value.value)) {
            return Status::usage(value.field + ": a figure is a number (" + value.value + " is none)");
        }
        columns.push_back(column.value());
    }
    if (why.empty()) {
        return Status::usage("--why: a correction is kept with its reason; give one");
    }
    if (Status checked = checkText("--why", why); !checked.isOk()) {
        return checked;
    }
    std::size_t records = 0;
    Status status = inOneTransaction(db, keys, revision, [&](const OfficeRecord& record) {
        if (record.forgotten) {
            return Status::usage(record.key +
                                 ": its answers were erased on request; there is nothing to correct");
        }
        bool any = false;
        Status done = Status::ok();
        for (std::size_t i = 0; done.isOk() && i < columns.size(); ++i) {
            const std::size_t column = columns[i];
            const std::string& now = record.now.at(column);
            if (now == values[i].value) {
                continue;
            }
            if (!any) {
                // Before the first change of the answers, what the desk wrote is kept, once.
                std::string sql = "INSERT INTO records_as_written (record_key";
                std::string selected = "SELECT record_key";
                for (std::size_t a = kFirstAnswer; a < kColumnCount; ++a) {
                    sql.append(", ").append(kColumns.at(a).name);
                    selected.append(", ").append(kColumns.at(a).name);
                }
                const std::array key{Value::of(record.key)};
                done = db.run(db::sqlOf({sql, ") ", selected, " FROM ", db::kRecordsTable,
                                         " WHERE record_key = ", db.dialect().placeholder(1),
                                         " ON CONFLICT (record_key) DO NOTHING"}),
                              key);
            }
            any = true;
            const std::array set{Value::of(values[i].value), Value::of(record.key)};
            done = done.isOk() ? db.run("UPDATE " + std::string(db::kRecordsTable) + " SET " +
                                            std::string(kColumns.at(column).name) + " = " +
                                            db.dialect().placeholder(1) +
                                            " WHERE record_key = " + db.dialect().placeholder(2),
                                        set)
                               : done;
            done = done.isOk() ? keep(db, record.key, clerk, why, "correct", kColumns.at(column).name, now,
                                      values[i].value)
                               : done;
        }
        records += any ? 1 : 0;
        if (any && done.isOk()) {
            // What needs a look, worked out again from the answers as they are now.
            std::array<std::string_view, kColumnCount> now{};
            std::transform(record.now.begin(), record.now.end(), now.begin(),
                           [](const std::string& value) { return std::string_view(value); });
            for (std::size_t i = 0; i < columns.size(); ++i) {
                now.at(columns[i]) = values[i].value;
            }
            const std::string rules = ruleList(lookAt(now, false));
            const std::array set{Value::of(rules), Value::of(record.key)};
            done = db.run(
                db::sqlOf({"UPDATE ", db::kRecordsTable, " SET looks = ", db.dialect().placeholder(1),
                           ", revision = revision + 1 WHERE record_key = ", db.dialect().placeholder(2)}),
                set);
            // The answers given, to the index of answers, so that find finds the record by them.
            std::vector<std::string> given;
            std::transform(values.begin(), values.end(), std::back_inserter(given),
                           [](const FieldValue& value) { return value.value; });
            done = done.isOk() ? db::indexAnswers(db, record.now.at(0), numberOf(record), given) : done;
        }
        return done;
    });
    if (changed != nullptr) {
        *changed = status.isOk() ? records : 0;
    }
    return status;
}

Status review(db::Database& db, std::span<const std::string> keys, const std::string& state,
              const Clerk& clerk, const std::string& why, std::optional<std::int64_t> revision,
              std::size_t* changed) {
    if (std::find(db::kStates.begin(), db::kStates.end(), state) == db::kStates.end()) {
        return Status::usage("no review state '" + state +
                             "' (the states: new, approved, needs-look, rejected)");
    }
    if (Status checked = checkText("--why", why); !checked.isOk()) {
        return checked;
    }
    std::size_t records = 0;
    Status status = inOneTransaction(db, keys, revision, [&](const OfficeRecord& record) {
        if (record.state == state) {
            return Status::ok();
        }
        ++records;
        const std::array set{Value::of(state), Value::of(record.key)};
        Status done = db.run(
            "UPDATE " + std::string(db::kRecordsTable) + " SET state = " + db.dialect().placeholder(1) +
                ", revision = revision + 1 WHERE record_key = " + db.dialect().placeholder(2),
            set);
        return done.isOk() ? keep(db, record.key, clerk, why, "review", "state", record.state, state) : done;
    });
    if (changed != nullptr) {
        *changed = status.isOk() ? records : 0;
    }
    return status;
}

Status forget(db::Database& db, std::span<const std::string> keys, const Clerk& clerk,
              const std::string& why) {
    if (why.empty()) {
        return Status::usage("--why: an erasure is kept with its reason; give one");
    }
    if (Status checked = checkText("--why", why); !checked.isOk()) {
        return checked;
    }
    std::string blank;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        blank.append(i == kFirstAnswer ? "" : ", ").append(kColumns.at(i).name).append(" = ''");
    }
    const std::string where = " WHERE record_key = " + db.dialect().placeholder(1);
    return inOneTransaction(db, keys, std::nullopt, [&](const OfficeRecord& record) {
        // Every answer it holds or held, to be taken out of the index of answers as well.
        std::vector<std::string> held(record.now.begin() + kFirstAnswer, record.now.end());
        held.insert(held.end(), record.written.begin(), record.written.end());
        for (const Change& change : record.history) {
            if (change.field != "state") {
                held.push_back(change.oldValue);
                held.push_back(change.newValue);
            }
        }
        const std::array key{Value::of(record.key)};
        Status done = db.run("UPDATE " + std::string(db::kRecordsTable) + " SET " + blank +
                                 ", forgotten = 1, revision = revision + 1" + where,
                             key);
        done = done.isOk() ? db.run("DELETE FROM records_as_written" + where, key) : done;
        // The history keeps that a value changed, and why, but not the value.
        done = done.isOk() ? db.run("UPDATE record_changes SET old_value = '', new_value = ''" + where +
                                        " AND field <> 'state'",
                                    key)
                           : done;
        done =
            done.isOk() ? db::unindexAnswers(db, record.key, record.now.at(0), numberOf(record), held) : done;
        return done.isOk() ? keep(db, record.key, clerk, why, "forget", "", "", "") : done;
    });
}

}  // namespace profiledesk::office
