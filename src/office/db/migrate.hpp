#pragma once

// An office's database made by an earlier release is carried forward by every later one: each
// run that opens it brings its schema to this release's, in one transaction, and says so in one
// line. A database made by a later release is refused, never half-used.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "office/db/database.hpp"

namespace profiledesk::office::db {

// Where a run says what it did to the database as a whole (migrated it, made it).
using Teller = std::function<void(const std::string&)>;

// Opens the database as open() does, then brings its schema to this release's. With
// Access::read, a database without the records table is refused, and one of an older schema
// is reopened to be carried forward where the user may write it. A database without any table
// (one that a collate is about to fill) is left for the caller to make.
Result<std::unique_ptr<Database>> openOffice(const std::string& name, Access access,
                                             const OpenOptions& options, const Teller& tell);

// PostgreSQL tells a desk's rows only by reading every entry of its index (30 ms for 440,000),
// which a collate did in every run to notice rows deleted or added by hand. Instead, every
// statement that may change which rows a desk has, made by anyone but a collate (which sets
// kCollating), adds a row to a log: a collate counts a desk only where the log grew since its
// checkpoint. SQLite counts on.
inline constexpr std::string_view kHandLog = "records_changed_by_hand";
inline constexpr std::string_view kCollating = "profiledesk.collating";
inline constexpr std::string_view kRowsTrigger = "records_rows_by_hand";
inline constexpr std::string_view kEmptiedTrigger = "records_emptied_by_hand";
// Makes the log and its triggers on the records table, there; inside the caller's write.
Status watchRowsByHand(Database& db);
// The log's length, or none where the triggers are missing or disabled, or on SQLite.
Status rowsChangedByHand(Database& db, std::optional<std::int64_t>& changes);

// Makes every table of the schema that is missing, with its indexes, and records the version;
// inside the caller's write transaction.
Status makeSchema(Database& db);

}  // namespace profiledesk::office::db
