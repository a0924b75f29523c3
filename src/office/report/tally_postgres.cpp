// Reading collated records from PostgreSQL: one read-only transaction that sees a single
// snapshot, and each result taken a row at a time (single-row mode), so that libpq never
// holds a whole result.

#include <libpq-fe.h>

#include <vector>

#include "office/db/postgres_connect.hpp"
#include "office/db/schema.hpp"
#include "office/report/tally_sql.hpp"

namespace profiledesk::office {

namespace {

class PostgresRecords final : public RecordsDatabase {
public:
    PostgresRecords(Connection connection, std::string server)
        : connection_(std::move(connection)), server_(std::move(server)) {}

    Status each(const std::string& query, const RowReader& row) override {
        PGconn* connection = connection_.get();
        if (PQsendQuery(connection, query.c_str()) == 0 || PQsetSingleRowMode(connection) == 0) {
            return Status::failure(server_ + ": " + oneLine(PQerrorMessage(connection)));
        }
        Status status = Status::ok();
        std::vector<std::string_view> values;
        // Every result is taken, a failure's too, so that the connection is ready for the next query.
        while (PgResult result{PQgetResult(connection)}) {
            const ExecStatusType state = PQresultStatus(result.get());
            if (state == PGRES_SINGLE_TUPLE && status.isOk()) {
                values.resize(static_cast<std::size_t>(PQnfields(result.get())));
                for (std::size_t i = 0; i < values.size(); ++i) {
                    const int column = static_cast<int>(i);
                    values[i] =
                        std::string_view(PQgetvalue(result.get(), 0, column),
                                         static_cast<std::size_t>(PQgetlength(result.get(), 0, column)));
                }
                row(values);
            } else if (state != PGRES_SINGLE_TUPLE && state != PGRES_TUPLES_OK && state != PGRES_COMMAND_OK &&
                       status.isOk()) {
                status = Status::failure(server_ + ": " + oneLine(PQresultErrorMessage(result.get())));
            }
        }
        return status;
    }

    [[nodiscard]] std::string_view bytesOrder() const override { return " COLLATE \"C\""; }
    [[nodiscard]] const std::string& name() const override { return server_; }

private:
    Connection connection_;
    std::string server_;
};

}  // namespace

OpenedDatabase openPostgresRecords(const std::string& connection) {
    OpenedDatabase opened;
    OpenedConnection connected = connectPostgresToRead(connection, "--from-db");
    if (!connected.connection) {
        opened.status = connected.status;
        return opened;
    }
    auto database = std::make_unique<PostgresRecords>(std::move(connected.connection), connected.server);
    opened.status = beginReading(*database, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY",
                                 "SELECT to_regclass('" + std::string(kRecordsTable) + "') IS NOT NULL");
    if (opened.status.isOk()) {
        opened.database = std::move(database);
    }
    return opened;
}

}  // namespace profiledesk::office
