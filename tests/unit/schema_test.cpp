// The office's schema, described once: each kind of database's SQL made from it, and the name
// a desk's records are kept under.

#include <gtest/gtest.h>

#include "office/db/database.hpp"
#include "office/db/schema.hpp"

namespace profiledesk::office::db {
namespace {

const Dialect kSqliteLike{Kind::sqlite, "INTEGER", "TEXT", "", "rowid"};
const Dialect kPostgresLike{Kind::postgres, "BIGINT", "TEXT COLLATE \"C\"", " COLLATE \"C\"", "ctid"};

TEST(Schema, EveryKindGetsEveryColumnNotNullAndTheKeyAsItCanHaveIt) {
    const std::string records = createTable(kSqliteLike, recordsTable(), false);
    EXPECT_TRUE(
        records.starts_with("CREATE TABLE records (source TEXT NOT NULL, record INTEGER NOT NULL, "
                            "line INTEGER NOT NULL, entered_at TEXT NOT NULL, first_name TEXT NOT NULL"))
        << records;
    EXPECT_TRUE(records.ends_with(", age_after_years TEXT NOT NULL, record_key TEXT NOT NULL)")) << records;
    EXPECT_TRUE(createTable(kPostgresLike, recordsTable())
                    .starts_with("CREATE TABLE IF NOT EXISTS records (source TEXT COLLATE \"C\" NOT NULL, "
                                 "record BIGINT NOT NULL"));

    // SQLite cannot add a key to a table it has made: the key is there from the start.
    EXPECT_EQ(
        createTable(kSqliteLike, countsTable(), false, true),
        "CREATE TABLE collate_counts (source TEXT NOT NULL, content TEXT NOT NULL, times INTEGER NOT NULL, "
        "PRIMARY KEY (source, content)) WITHOUT ROWID");
    EXPECT_EQ(createTable(kPostgresLike, countsTable(), false, true),
              "CREATE TABLE collate_counts (source TEXT COLLATE \"C\" NOT NULL, content TEXT COLLATE \"C\" "
              "NOT NULL, "
              "times BIGINT NOT NULL)");
    EXPECT_EQ(addPrimaryKey(countsTable()), "ALTER TABLE collate_counts ADD PRIMARY KEY (source, content)");
    EXPECT_EQ(createIndex(recordsTable(), recordsTable().indexes[0]),
              "CREATE UNIQUE INDEX IF NOT EXISTS records_record_key ON records (record_key)");
    EXPECT_EQ(kPostgresLike.placeholder(12), "$12");
    EXPECT_EQ(kSqliteLike.placeholder(12), "?");
}

TEST(Schema, ANameThatIsNotUtf8OrHoldsANulIsKeptWithThoseBytesWrittenOut) {
    EXPECT_EQ(storedName("north"), "north");
    EXPECT_EQ(storedName("K\xC3\xB6ln"), "K\xC3\xB6ln");  // UTF-8 stays as it is
    EXPECT_EQ(storedName("K\xF6ln"), "K\\xf6ln");
    EXPECT_EQ(storedName("K\xFCln"), "K\\xfcln");  // a desk of its own
    EXPECT_EQ(storedName(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(storedName("\xE2\x82"), "\\xe2\\x82");  // a character cut short
    EXPECT_EQ(storedName("a\\x41"), "a\\x41");        // written out by hand, it stays
}

}  // namespace
}  // namespace profiledesk::office::db
