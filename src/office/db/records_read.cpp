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

Status readRecords(Database& db, const DateRange& dates, const RecordReader& read) {
    std::vector<std::string> texts;
    const std::string sql = "SELECT " + valueColumns() + " FROM " + std::string(kRecordsTable) +
                            dayCondition(db.dialect(), dates, texts) + " ORDER BY " +
                            std::string(kDayColumn) + ", source" + std::string(db.dialect().bytesOrder) +
                            ", record";
    const std::vector<Value> values = textValues(texts);
    office::Row row;
    return db.run(sql, values, [&](const db::Row& found) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            row.values.at(i) = found.text(i);
        }
        return read(row, static_cast<std::size_t>(found.integer(1)),
                    static_cast<std::size_t>(found.integer(2)));
    });
}

}  // namespace profiledesk::office::db
