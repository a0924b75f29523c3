// Reading a SQLite file of collated records: opened read-only, never created, and read in one
// transaction, which lets a collate running at the same time finish its write after the report.

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "office/db/schema.hpp"
#include "office/db/sqlite_handles.hpp"
#include "office/report/tally_sql.hpp"

namespace profiledesk::office {

namespace {

// As long as collate waits for a database another program holds.
constexpr int kWaitMilliseconds = 5000;

class SqliteRecords final : public RecordsDatabase {
public:
    SqliteRecords(std::string path, Database db) : path_(std::move(path)), db_(std::move(db)) {}

    Status each(const std::string& query, const RowReader& row) override {
        sqlite3_stmt* raw = nullptr;
        int code =
            sqlite3_prepare_v2(db_.get(), query.c_str(), static_cast<int>(query.size()), &raw, nullptr);
        const Statement statement(raw);
        if (code != SQLITE_OK) {
            return failure();
        }
        const int columns = sqlite3_column_count(raw);
        std::vector<std::string_view> values(static_cast<std::size_t>(columns));
        while ((code = sqlite3_step(raw)) == SQLITE_ROW) {
            for (int i = 0; i < columns; ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, i));
                values.at(static_cast<std::size_t>(i)) =
                    text == nullptr
                        ? std::string_view()
                        : std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(raw, i)));
            }
            row(values);
        }
        return code == SQLITE_DONE ? Status::ok() : failure();
    }

    [[nodiscard]] std::string_view bytesOrder() const override { return {}; }  // BINARY already
    [[nodiscard]] const std::string& name() const override { return path_; }

private:
    Status failure() const { return Status::failure(path_ + ": " + sqlite3_errmsg(db_.get())); }

    std::string path_;
    Database db_;
};

}  // namespace

OpenedDatabase openSqliteRecords(const std::string& path) {
    OpenedDatabase opened;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        opened.status = Status::failure(
            path + ": " +
            (std::filesystem::exists(path, error) ? "not a database file" : "no such database"));
        return opened;
    }
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    Database db(raw);
    if (code != SQLITE_OK) {
        opened.status =
            Status::failure(path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(code)));
        return opened;
    }
    (void)sqlite3_busy_timeout(db.get(), kWaitMilliseconds);
    auto database = std::make_unique<SqliteRecords>(path, std::move(db));
    opened.status = beginReading(*database, "BEGIN",
                                 "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '" +
                                     std::string(kRecordsTable) + "'");
    if (opened.status.isOk()) {
        opened.database = std::move(database);
    }
    return opened;
}

}  // namespace profiledesk::office
