#include "office/export/rows.hpp"

#include <algorithm>
#include <numeric>
#include <string>

#include "common/utf8.hpp"

namespace profiledesk::office {

namespace {

constexpr std::array<bool, 256> kNeedsQuotes = [] {
    std::array<bool, 256> special{};
    for (const char c : {',', '"', '\r', '\n'}) {
        special.at(static_cast<unsigned char>(c)) = true;
    }
    return special;
}();

// RFC 4180: a field is quoted when it holds a comma, a quote or a line end, and a quote
// inside is doubled. Writes at `to`, which has room for twice the field and its quotes.
char* putCsvField(char* to, std::string_view value) {
    // Copied on the guess that it needs no quotes, which holds for nearly every field.
    bool special = false;
    char* const start = to;
    for (const char c : value) {
        special |= kNeedsQuotes[static_cast<unsigned char>(c)];
        *to++ = c;
    }
    if (!special) {
        return to;
    }
    to = start;
    *to++ = '"';
    for (const char c : value) {
        *to++ = c;
        if (c == '"') {
            *to++ = '"';
        }
    }
    *to++ = '"';
    return to;
}

// Whether `value` is a plain decimal number ("-0.5", "1.52416e+12"): a spreadsheet reads it as
// that number, so it stays one, though it may start with a sign.
bool isPlainNumber(std::string_view value) {
    const auto digits = [&value] {
        const std::size_t count = std::min(value.find_first_not_of("0123456789"), value.size());
        value.remove_prefix(count);
        return count > 0;
    };
    if (value.starts_with('-') || value.starts_with('+')) {
        value.remove_prefix(1);
    }
    if (!digits()) {
        return false;
    }
    if (value.starts_with('.')) {
        value.remove_prefix(1);
        if (!digits()) {
            return false;
        }
    }
    if (value.starts_with('e') || value.starts_with('E')) {
        value.remove_prefix(1);
        if (value.starts_with('-') || value.starts_with('+')) {
            value.remove_prefix(1);
        }
        if (!digits()) {
            return false;
        }
    }
    return value.empty();
}

// A cell a spreadsheet would run as a formula (=HYPERLINK(...), @SUM(...), -2+3 and the like).
bool readsAsFormula(std::string_view value) {
    return !value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos &&
           !isPlainNumber(value);
}

}  // namespace

void appendCsvRow(OutputBuffer& out, const std::array<std::string_view, kColumnCount>& values,
                  bool forSpreadsheet) {
    const std::size_t room =
        std::accumulate(values.begin(), values.end(), kColumnCount * 4 + 2,
                        [](std::size_t sum, std::string_view value) { return sum + 2 * value.size(); });
    std::vector<char> large;
    char* const start = out.reserve(room, large);
    char* to = start;
    std::string guarded;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (i > 0) {
            *to++ = ',';
        }
        if (forSpreadsheet && readsAsFormula(values.at(i))) {
            // The apostrophe makes the cell text, and the spreadsheet does not show it.
            guarded.assign(1, '\'').append(values.at(i));
            to = putCsvField(to, guarded);
        } else {
            to = putCsvField(to, values.at(i));
        }
    }
    *to++ = '\r';
    *to++ = '\n';
    out.commit(static_cast<std::size_t>(to - start), large);
}

void appendCsvHeader(OutputBuffer& out) {
    std::array<std::string_view, kColumnCount> names;
    std::transform(kColumns.begin(), kColumns.end(), names.begin(),
                   [](const Column& column) { return column.name; });
    appendCsvRow(out, names);
}

JsonRowWriter::JsonRowWriter() {
    for (const Column& column : kColumns) {
        object_[std::string(column.name)] = nullptr;
    }
}

void JsonRowWriter::append(OutputBuffer& out, const Row& row, std::size_t recordNumber,
                           std::size_t lineNumber) {
    // The keys stay in place from row to row; only the values change.
    auto value = object_.begin();
    for (std::size_t i = 0; i < kColumnCount; ++i, ++value) {
        const Column& column = kColumns.at(i);
        switch (column.kind) {
            case ColumnKind::text:
                if (const std::string_view text = row.values.at(i); isUtf8(text)) {
                    *value = std::string(text);
                } else {
                    // JSON holds only UTF-8; the file's name was told once, at its start.
                    std::string shown;
                    (void)replaceNotUtf8(shown, text);
                    *value = std::move(shown);
                }
                break;
            case ColumnKind::whole:
                *value = column.source == ColumnSource::record ? recordNumber : lineNumber;
                break;
            case ColumnKind::figure:
                // Only records whose figures read as numbers are whole.
                *value = parseFigure(row.values.at(i)).value_or(0.0);
                break;
        }
    }
    out.append(object_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    out.put('\n');
}

}  // namespace profiledesk::office
