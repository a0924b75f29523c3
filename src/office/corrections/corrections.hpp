#pragma once

// The office puts its records right: it corrects answers, reviews records and erases a person's
// answers on request, in the database, never in a desk's file. Every change is kept with who
// made it, when and why, and the value before and after. Each call is one transaction: where one
// of its keys or fields is wrong, nothing at all is changed. The command line and the browser
// both go through here.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/status.hpp"
#include "office/columns.hpp"
#include "office/db/database.hpp"

namespace profiledesk::office {

// One change made to a record, as its history keeps it.
struct Change {
    std::string at;  // 2026-12-08T09:30:05Z
    std::string by;
    std::string why;
    std::string action;  // correct, review, forget, reread, gone, back
    std::string field;   // an answer, "state", or empty for the record as a whole
    std::string oldValue;
    std::string newValue;
};

// A record as the office holds it.
struct OfficeRecord {
    std::string key;
    std::array<std::string, kColumnCount> now;      // the export's columns, answers as they are now
    std::array<std::string, kAnswerCount> written;  // the answers as the desk wrote them
    std::string state;
    bool gone = false;       // no longer in its desk's file
    bool forgotten = false;  // its answers erased on request
    std::int64_t revision = 0;
    std::vector<Change> history;  // oldest first
};

// Who makes a change, and when.
struct Clerk {
    std::string by;
    std::string at;  // ISO 8601 in UTC
};

// The clerk a change is recorded under: on PostgreSQL the role the database knows, which a
// name given cannot stand in for; elsewhere the name given, or else the login name.
Result<std::string> clerkName(db::Database& db, const std::string& given, const std::string& login);

// The records `keys` name, in order: each a whole key, or a prefix of at least 8 characters
// that one key alone starts with. A key that names none or several is an error that names it.
Result<std::vector<std::string>> resolveKeys(db::Database& db, std::span<const std::string> keys);

Result<OfficeRecord> readRecord(db::Database& db, const std::string& key);

struct FieldValue {
    std::string field;  // an answer, named as export's column
    std::string value;
};

// Where `revision` is given (a page shown before), a record changed since is refused, so that
// no clerk's change is lost; otherwise a change builds on whatever the record holds now. The
// number of records changed goes to `changed`.
Status correct(db::Database& db, std::span<const std::string> keys, std::span<const FieldValue> values,
               const Clerk& clerk, const std::string& why,
               std::optional<std::int64_t> revision = std::nullopt, std::size_t* changed = nullptr);
Status review(db::Database& db, std::span<const std::string> keys, const std::string& state,
              const Clerk& clerk, const std::string& why, std::optional<std::int64_t> revision = std::nullopt,
              std::size_t* changed = nullptr);
// Erases every answer of the records, in them and in their history; the key and the fact of the
// erasure stay, so that no later collate brings the answers back.
Status forget(db::Database& db, std::span<const std::string> keys, const Clerk& clerk,
              const std::string& why);

}  // namespace profiledesk::office
