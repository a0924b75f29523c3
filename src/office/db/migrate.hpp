#pragma once

// An office's database made by an earlier release is carried forward by every later one: each
// run that opens it brings its schema to this release's, in one transaction, and says so in one
// line. A database made by a later release is refused, never half-used.

#include <functional>
#include <memory>
#include <string>

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

// Makes every table of the schema that is missing, with its indexes, and records the version;
// inside the caller's write transaction.
Status makeSchema(Database& db);

}  // namespace profiledesk::office::db
