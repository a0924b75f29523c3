#include "office/db/records_read.hpp"

#include "office/db/schema.hpp"

namespace profiledesk::office::db {

std::string dayCondition(const Dialect& dialect, const DateRange& dates, std::vector<std::string>& values,
                         std::string_view joiner) {
    std::string condition;
    const auto add = [&](std::string_view comparison, std::string value) {
        values.push_back(std::move(value));
        condition.append(condition.empty() ? joiner : " AND ").append(kDayColumn).append(comparison);
        condition.append(dialect.placeholder(static_cast<int>(values.size())));
    };
    if (dates.from) {
        add(" >= ", dates.from->text());
    }
    if (dates.to) {
        add(" < ", dates.to->text() + "U");
    }
    return condition;
}

std::string recordsWhere(const Dialect& dialect, const RecordFilter& filter,
                         std::vector<std::string>& values) {
    std::string where = dayCondition(dialect, filter.dates, values);
    if (!filter.everyRecord) {
        where.append(where.empty() ? " WHERE " : " AND ")
            .append("state <> 'rejected' AND forgotten = 0 AND gone = 0");
    }
    if (filter.needingALook) {
        where.append(where.empty() ? " WHERE " : " AND ").append("looks <> ''");
    }
    if (filter.only != nullptr) {
        // The numbers as they are: whole numbers, which need no quoting.
        where.append(where.empty() ? " WHERE (" : " AND (");
        const char* either = "";
        for (const auto& [source, records] : *filter.only) {
            if (records.empty()) {
                continue;
            }
            values.push_back(source);
            where.append(either)
                .append("source = ")
                .append(dialect.placeholder(static_cast<int>(values.size())));
            where.append(" AND record IN (");
            for (std::size_t i = 0; i < records.size(); ++i) {
                where.append(i == 0 ? "" : ", ").append(std::to_string(records[i]));
            }
            where.append(")");
            either = " OR ";
        }
        where.append(filter.only->empty() ? "false)" : ")");
    }
    return where;
}

Status readRecords(Database& db, const RecordFilter& filter, const RecordReader& read) {
    std::vector<std::string> texts;
    const std::string sql = sqlOf({"SELECT ", valueColumns(), ", record_key, state FROM ", kRecordsTable,
                                   recordsWhere(db.dialect(), filter, texts), " ORDER BY ", kDayColumn,
                                   ", source", db.dialect().bytesOrder, ", record"});
    const std::vector<Value> values = textValues(texts);
    office::Row row;
    return db.run(sql, values, [&](const db::Row& found) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            row.values.at(i) = found.text(i);
        }
        row.key = found.text(kColumnCount);
        row.state = found.text(kColumnCount + 1);
        return read(row, static_cast<std::size_t>(found.integer(1)),
                    static_cast<std::size_t>(found.integer(2)));
    });
}

}  // namespace profiledesk::office::db
