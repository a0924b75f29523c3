#pragma once

// SQLite's connection and statement handles, each closed when it goes.

#include <sqlite3.h>

#include <memory>

namespace profiledesk::office::db {

struct HandleCloser {
    void operator()(sqlite3* db) const { (void)sqlite3_close_v2(db); }
};
using Handle = std::unique_ptr<sqlite3, HandleCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { (void)sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace profiledesk::office::db
