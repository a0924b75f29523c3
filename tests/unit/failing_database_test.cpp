// A database that fails at any one call of a migration, a collate or a correction: the run says
// so, and the database holds just what it held before. Every call of a whole run is made to fail
// in turn, so that a step whose failure a later step hides is found wherever it is.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "office/collate/target.hpp"
#include "office/corrections/corrections.hpp"
#include "office/db/migrate.hpp"
#include "office/db/sqlite_handles.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

// The one call of a run that fails, counted across every database the run opens.
struct Injection {
    std::size_t failAt = 0;  // from 1
    std::size_t calls = 0;
    std::string failed;  // what the call that failed was asked to do

    [[nodiscard]] bool fired() const { return calls >= failAt; }
    Status next(std::string_view what) {
        if (++calls != failAt) {
            return Status::ok();
        }
        failed = what;
        return Status::failure("office.db: disk I/O error");
    }
    // Makes `call` unless this is the call to fail.
    template <typename Call>
    Status pass(std::string_view what, const Call& call) {
        Status status = next(what);
        return status.isOk() ? call() : status;
    }
};

class FailingLoad final : public db::BulkLoad {
public:
    FailingLoad(std::unique_ptr<db::BulkLoad> inner, Injection& injection)
        : inner_(std::move(inner)), injection_(injection) {}

    Status add(std::span<const db::Value> row) override {
        return injection_.pass("a row loaded", [&] { return inner_->add(row); });
    }
    Status finish() override {
        return injection_.pass("the end of a load", [this] { return inner_->finish(); });
    }

private:
    std::unique_ptr<db::BulkLoad> inner_;
    Injection& injection_;
};

// Forwards each call to a real database, but for the one it is told to fail, which never runs.
class FailingDatabase final : public db::Database {
public:
    FailingDatabase(std::unique_ptr<db::Database> inner, Injection& injection)
        : inner_(std::move(inner)), injection_(injection) {}

    [[nodiscard]] const db::Dialect& dialect() const override { return inner_->dialect(); }
    [[nodiscard]] const std::string& name() const override { return inner_->name(); }
    [[nodiscard]] bool made() const override { return inner_->made(); }
    Result<std::unique_ptr<db::BulkLoad>> load(std::string_view table, std::string_view columns,
                                               std::span<const bool> integers, bool madeHere) override {
        if (Status status = injection_.next("a load"); !status.isOk()) {
            return status;
        }
        auto loaded = inner_->load(table, columns, integers, madeHere);
        if (!loaded.isOk()) {
            return loaded;
        }
        return std::unique_ptr<db::BulkLoad>(
            std::make_unique<FailingLoad>(std::move(loaded).value(), injection_));
    }
    Status beginRead() override {
        return injection_.pass("beginRead", [this] { return inner_->beginRead(); });
    }
    Status beginStaging() override {
        return injection_.pass("beginStaging", [this] { return inner_->beginStaging(); });
    }
    Status beginWrite() override {
        return injection_.pass("beginWrite", [this] { return inner_->beginWrite(); });
    }
    Status commit() override {
        return injection_.pass("commit", [this] { return inner_->commit(); });
    }
    void rollback() override { inner_->rollback(); }
    Status tableExists(std::string_view table, bool& exists) override {
        return injection_.pass(table, [&] { return inner_->tableExists(table, exists); });
    }
    Status uniqueOn(std::string_view table, std::string_view column, bool& unique) override {
        return injection_.pass(column, [&] { return inner_->uniqueOn(table, column, unique); });
    }
    Status grantAsOn(std::string_view from, std::string_view to, bool inStep) override {
        return injection_.pass(to, [&] { return inner_->grantAsOn(from, to, inStep); });
    }
    Status schemaVersion(int& version) override {
        return injection_.pass("schemaVersion", [&] { return inner_->schemaVersion(version); });
    }
    Status setSchemaVersion(int version) override {
        return injection_.pass("setSchemaVersion", [&] { return inner_->setSchemaVersion(version); });
    }

protected:
    Status runStatement(std::string_view sql, std::span<const db::Value> values, const db::RowReader& reader,
                        std::uint64_t* changed) override {
        return injection_.pass(sql, [&] { return inner_->run(sql, values, reader, changed); });
    }

private:
    std::unique_ptr<db::Database> inner_;
    Injection& injection_;
};

// Every table's rows, sorted, with the schema and its version: what a failed run must not change.
std::string contentOf(const std::string& path) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const db::Handle handle(raw);
    EXPECT_EQ(opened, SQLITE_OK) << path;
    std::vector<std::string> rows;
    const auto query = [&](const std::string& sql, const std::string& prefix) {
        struct Into {
            std::vector<std::string>* rows;
            const std::string* prefix;
        } into{&rows, &prefix};
        const auto take = [](void* to, int count, char** values, char** /*names*/) {
            auto* target = static_cast<Into*>(to);
            std::string row = *target->prefix;
            for (int i = 0; i < count; ++i) {
                row.append("|").append(values[i] == nullptr ? "NULL" : values[i]);
            }
            target->rows->push_back(std::move(row));
            return 0;
        };
        EXPECT_EQ(sqlite3_exec(handle.get(), sql.c_str(), take, &into, nullptr), SQLITE_OK) << sql;
    };
    query("PRAGMA user_version", "version");
    query("SELECT type, name, sql FROM sqlite_master", "schema");
    std::vector<std::string> tables;
    for (const std::string& row : rows) {
        if (row.starts_with("schema|table|")) {
            tables.push_back(row.substr(13, row.find('|', 13) - 13));
        }
    }
    for (const std::string& table : tables) {
        query("SELECT * FROM \"" + table + "\"", table);
    }
    std::sort(rows.begin(), rows.end());
    std::string content;
    for (const std::string& row : rows) {
        content.append(row).append("\n");
    }
    return content;
}

void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix);
    }
}

constexpr std::string_view kSearchByParts = "CREATE VIRTUAL TABLE answer_values_folded";

// Runs `run` on a copy of the database `start` once for each call it makes, that call failing:
// each such run must fail, say why, and change nothing. The run in which none fails must succeed and change
// the database. Gives the number of calls.
template <typename Run>
std::size_t failEachCallOf(const std::string& start, const std::string& path, const Run& run) {
    const std::string before = contentOf(start);
    for (std::size_t failAt = 1;; ++failAt) {
        removeDatabase(path);
        std::filesystem::copy_file(start, path);
        Injection injection{.failAt = failAt, .calls = 0, .failed = {}};
        const db::Opener opener = [&injection](const std::string& name, db::Access access,
                                               const db::OpenOptions& options) {
            auto opened = db::open(name, access, options);
            if (!opened.isOk()) {
                return opened;
            }
            return Result<std::unique_ptr<db::Database>>(
                std::make_unique<FailingDatabase>(std::move(opened).value(), injection));
        };
        const Status status = run(path, opener);
        if (status.isOk() && injection.failed.starts_with(kSearchByParts)) {
            continue;  // an index that only speeds up a search: told, and done without
        }
        if (!injection.fired()) {
            EXPECT_TRUE(status.isOk()) << status.message();
            EXPECT_NE(contentOf(path), before);
            return failAt - 1;
        }
        // The failure told is the database's, not one of a later step it led to.
        EXPECT_NE(status.message().find("office.db: disk I/O error"), std::string::npos)
            << "call " << failAt << " failed: " << injection.failed << "\ntold: " << status.message();
        EXPECT_EQ(contentOf(path), before) << "call " << failAt << " failed: " << injection.failed;
        if (::testing::Test::HasFailure()) {
            return failAt;
        }
    }
}

Status collate(const std::string& path, const db::Opener& opener, const std::vector<DeskInput>& desks) {
    auto target = openTarget(
        path, 0, [](const std::string&) {}, "clerk", "2026-12-08T09:30:05Z", opener);
    if (!target.isOk()) {
        return target.status();
    }
    std::ostringstream out;
    std::ostringstream err;
    Streams console{out, err};
    return collateInto(*target.value(), desks, console) == 0 ? Status::ok() : Status::failure(err.str());
}

Result<std::unique_ptr<db::Database>> openToWrite(const std::string& path, const db::Opener& opener) {
    return db::openOffice(path, db::Access::write, db::OpenOptions{"--db", 0, {}, {}, opener},
                          [](const std::string&) {});
}

std::string recordOf(const char* firstName, const char* placeOfBirth) {
    CandidateRecord record = testing::sampleRecord();
    record.firstName = firstName;
    record.placeOfBirth = placeOfBirth;
    return formatRecord(record, testing::sixthOfDecember(), kMakerDetails);
}

// The keys of the records whose first names are in `names`, an SQL list.
std::vector<std::string> keysOf(db::Database& db, const std::string& names) {
    std::vector<std::string> keys;
    EXPECT_TRUE(db.run("SELECT record_key FROM records WHERE first_name IN " + names, {},
                       [&keys](const db::Row& row) {
                           keys.emplace_back(row.text(0));
                           return true;
                       })
                    .isOk());
    return keys;
}

class FailingDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Release 1.0.0's database, as its own SQL makes it.
        std::ostringstream sql;
        sql << std::ifstream(PROFILEDESK_TEST_FIXTURES "/office-1.0.0.sqlite.sql").rdbuf();
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(older.c_str(), &raw), SQLITE_OK);
        const db::Handle handle(raw);
        ASSERT_EQ(sqlite3_exec(handle.get(), sql.str().c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }

    testing::ScratchFolder folder;
    const std::string older = folder.file("older.db");
    const std::string path = folder.file("office.db");
};

TEST_F(FailingDatabaseTest, CarryingADatabaseForwardFailsWholeWhereverItFails) {
    const std::size_t calls = failEachCallOf(
        older, path,
        [](const std::string& name, const db::Opener& opener) { return openToWrite(name, opener).status(); });
    EXPECT_GT(calls, 10U);
}

TEST_F(FailingDatabaseTest, ACollateAndEachCorrectionFailWholeWhereverTheyFail) {
    // Desks collated into a new database: north and west in UTF-8, west with one of north's
    // records too, and south in CP1252, which it is read in again later.
    const std::string north = folder.file("north.dat");
    const std::string west = folder.file("west.dat");
    const std::string south = folder.file("south.dat");
    testing::writeFile(north, recordOf("Ama", "Accra") + recordOf("Kofi", "Kumasi"));
    testing::writeFile(west, recordOf("Esi", "Ho") + recordOf("Yaw", "Tema") + recordOf("Ama", "Accra"));
    testing::writeFile(south, recordOf("Jos\xC3\xA9", "Tamale"));
    const std::vector<DeskInput> first{{"north", north, ""}, {"west", west, ""}, {"south", south, ""}};
    const std::string empty = folder.file("empty.db");
    testing::writeFile(empty, "");
    // Each file a desk of its own goes straight into the new table; a desk of two files, staged.
    std::vector<DeskInput> shared = first;
    shared.push_back({"south", north, ""});
    for (const auto& desks : {first, shared}) {
        EXPECT_GT(failEachCallOf(empty, path,
                                 [&desks](const std::string& name, const db::Opener& opener) {
                                     return collate(name, opener, desks);
                                 }),
                  20U);
    }

    // Into release 1.0.0's database, where the office then corrects south's record.
    const std::string start = folder.file("start.db");
    std::filesystem::copy_file(older, start);
    ASSERT_TRUE(collate(start, {}, first).isOk());
    const Clerk clerk{"clerk", "2026-12-08T10:00:00Z"};
    {
        auto opened = openToWrite(start, {});
        ASSERT_TRUE(opened.isOk()) << opened.status().message();
        auto keys = keysOf(*opened.value(), "('Jos\xC3\xA9')");
        const std::vector<FieldValue> surname{{"surname", "Mensah"}};
        ASSERT_TRUE(correct(*opened.value(), keys, surname, clerk, "typed at the desk").isOk());
    }

    // Then north grows, west loses its first record, east is new, and south is read in CP1252.
    testing::writeFile(north,
                       recordOf("Ama", "Accra") + recordOf("Kofi", "Kumasi") + recordOf("Abena", "Wa"));
    testing::writeFile(west, recordOf("Yaw", "Tema") + recordOf("Ama", "Accra"));
    const std::string east = folder.file("east.dat");
    testing::writeFile(east, recordOf("Akua", "Keta"));
    const std::vector<DeskInput> desks{
        {"north", north, ""}, {"west", west, ""}, {"south", south, "CP1252"}, {"east", east, ""}};
    EXPECT_GT(failEachCallOf(start, path,
                             [&desks](const std::string& name, const db::Opener& opener) {
                                 return collate(name, opener, desks);
                             }),
              20U);

    ASSERT_TRUE(collate(start, {}, desks).isOk());
    std::vector<std::string> keys;
    {
        auto opened = openToWrite(start, {});
        ASSERT_TRUE(opened.isOk()) << opened.status().message();
        keys = keysOf(*opened.value(), "('Ama', 'Abena')");
    }
    ASSERT_EQ(keys.size(), 2U);
    const auto change = [&](const auto& make) {
        failEachCallOf(start, path, [&make](const std::string& name, const db::Opener& opener) {
            auto opened = openToWrite(name, opener);
            return opened.isOk() ? make(*opened.value()) : opened.status();
        });
    };
    const std::vector<FieldValue> values{{"place_of_birth", "Bolgatanga"}, {"surname", "Mensah"}};
    change([&](db::Database& db) { return correct(db, keys, values, clerk, "typed at the desk"); });
    change([&](db::Database& db) { return review(db, keys, "approved", clerk, "seen the card"); });
    change([&](db::Database& db) { return forget(db, keys, clerk, "asked in writing"); });
}

}  // namespace
}  // namespace profiledesk::office
