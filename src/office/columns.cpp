#include "office/columns.hpp"

#include <string>

namespace profiledesk::office {

std::string isoLocalTime(const EnteredAt& at) {
    // By hand rather than by snprintf: this runs once for every record exported.
    std::string text = "0000-00-00T00:00";
    const auto digits = [&text](std::size_t end, int value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i, value /= 10) {
            text[end - i] = static_cast<char>('0' + value % 10);
        }
    };
    const int year = at.date.year();
    digits(6, at.date.month(), 2);
    digits(9, at.date.day(), 2);
    digits(12, at.hour, 2);
    digits(15, at.minute, 2);
    if (year >= 0 && year <= 9999) {
        digits(3, year, 4);
    } else {
        text.replace(0, 4, std::to_string(year));  // as the record has it
    }
    return text;
}

void fillRow(std::string_view source, const StoredRecord& record, Row& row) {
    row.recordNumber = std::to_string(record.number);
    row.lineNumber = std::to_string(record.firstLine);
    row.enteredAt = isoLocalTime(record.enteredAt);
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns.at(i);
        std::string_view& value = row.values.at(i);
        switch (column.source) {
            case ColumnSource::file: value = source; break;
            case ColumnSource::record: value = row.recordNumber; break;
            case ColumnSource::line: value = row.lineNumber; break;
            case ColumnSource::enteredAt: value = row.enteredAt; break;
            case ColumnSource::answer: value = record.field(column.field); break;
        }
    }
}

Result<std::size_t> answerColumn(std::string_view name) {
    std::string names;
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        if (kColumns.at(i).name == name) {
            return i;
        }
        names.append(i == kFirstAnswer ? "" : ", ").append(kColumns.at(i).name);
    }
    return Status::usage("no answer named '" + std::string(name) + "' (the answers: " + names + ")");
}

std::string recordKey(std::string_view contentHash, std::size_t place) {
    return std::string(contentHash).append("-").append(std::to_string(place));
}

std::size_t wholeValue(const Column& column, const StoredRecord& record) {
    return column.source == ColumnSource::record ? record.number : record.firstLine;
}

}  // namespace profiledesk::office
