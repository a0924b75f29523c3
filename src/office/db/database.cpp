#include "office/db/database.hpp"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace profiledesk::office::db {

std::string Dialect::placeholder(int n) const {
    // Appended piece by piece: g++ 12 at -O3 warns of an overlap in "$" + to_string(n).
    std::string mark(kind == Kind::sqlite ? "?" : "$");
    if (kind == Kind::postgres) {
        mark.append(std::to_string(n));
    }
    return mark;
}

std::string Dialect::tempTable(std::string_view name, std::string_view columns) const {
    std::string sql("CREATE TEMP TABLE ");
    sql.append(name).append(" (").append(columns).append(")");
    // PostgreSQL's would outlive the transaction, and a second run on the connection.
    return kind == Kind::postgres ? sql.append(" ON COMMIT DROP") : sql;
}

std::string sqlOf(std::initializer_list<std::string_view> parts) {
    std::string sql;
    sql.reserve(std::accumulate(parts.begin(), parts.end(), std::size_t{0},
                                [](std::size_t size, std::string_view part) { return size + part.size(); }));
    for (const std::string_view part : parts) {
        sql.append(part);
    }
    return sql;
}

std::vector<Value> textValues(std::span<const std::string> texts) {
    std::vector<Value> values(texts.size());
    std::transform(texts.begin(), texts.end(), values.begin(),
                   [](const std::string& text) { return Value::of(text); });
    return values;
}

std::int64_t Row::integer(std::size_t column) const {
    const std::string_view value = text(column);
    std::int64_t number = 0;
    (void)std::from_chars(value.data(), value.data() + value.size(), number);
    return number;
}

Status Database::number(std::string_view sql, std::int64_t& value, std::int64_t fallback,
                        std::span<const Value> values) {
    value = fallback;
    return run(sql, values, [&value](const Row& row) {
        value = row.isNull(0) ? value : row.integer(0);
        return false;
    });
}

Status Database::runAll(std::span<const std::string> statements) {
    for (const std::string& sql : statements) {
        if (Status status = run(sql); !status.isOk()) {
            return status;
        }
    }
    return Status::ok();
}

Result<std::unique_ptr<Database>> open(const std::string& name, Access access, const OpenOptions& options) {
    return namesPostgres(name) ? openPostgres(name, access, options) : openSqlite(name, access, options);
}

}  // namespace profiledesk::office::db
