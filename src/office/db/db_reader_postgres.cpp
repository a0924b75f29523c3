// Reading the records table from PostgreSQL, a row at a time (libpq's single-row mode), so
// that the memory used stays the same however many rows there are.

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "office/db/db_reader.hpp"
#include "office/db/postgres_connect.hpp"
#include "office/db/schema.hpp"

namespace profiledesk::office {

DatabaseRead readPostgresRows(const std::string& connection, std::string_view option, const DateRange& dates,
                              const RowReader& read) {
    OpenedConnection opened = connectPostgresToRead(connection, option);
    if (!opened.connection) {
        return {opened.status, false};
    }
    PGconn* const db = opened.connection.get();
    const auto failure = [&opened](std::string_view reason) {
        return DatabaseRead{Status::failure(opened.server + ": " + oneLine(reason)), false};
    };
    std::vector<std::string> values;
    const std::string sql = "SELECT " + columnList() + " FROM " + std::string(kRecordsTable) +
                            dayCondition(dates, values, "$") + " ORDER BY " + std::string(kDayIndexColumn) +
                            ", source, record";
    std::vector<const char*> parameters(values.size());
    std::transform(values.begin(), values.end(), parameters.begin(),
                   [](const std::string& value) { return value.c_str(); });
    if (PQsendQueryParams(db, sql.c_str(), static_cast<int>(parameters.size()), nullptr, parameters.data(),
                          nullptr, nullptr, 0) == 0 ||
        PQsetSingleRowMode(db) == 0) {
        return failure(PQerrorMessage(db));
    }
    Row row;
    for (PgResult result(PQgetResult(db)); result; result.reset(PQgetResult(db))) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_TUPLES_OK) {
            continue;  // the end of the rows; the loop ends at the null result after it
        }
        if (status != PGRES_SINGLE_TUPLE) {
            const char* primary = PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY);
            return failure(primary != nullptr ? primary : PQerrorMessage(db));
        }
        std::array<std::size_t, 2> numbers{};  // the record and its line
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const int at = static_cast<int>(i);
            row.values.at(i) = std::string_view(PQgetvalue(result.get(), 0, at),
                                                static_cast<std::size_t>(PQgetlength(result.get(), 0, at)));
            if (kColumns.at(i).kind == ColumnKind::whole) {
                const std::string_view text = row.values.at(i);
                (void)std::from_chars(text.data(), text.data() + text.size(),
                                      numbers.at(kColumns.at(i).source == ColumnSource::record ? 0 : 1));
            }
        }
        if (!read(row, numbers[0], numbers[1])) {
            return {};  // the connection's end drops the rest
        }
    }
    return {};
}

}  // namespace profiledesk::office
