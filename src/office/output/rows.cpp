#include "office/output/rows.hpp"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <span>
#include <string>

#include "common/utf8.hpp"

namespace profiledesk::office {

namespace {

// The digits of a whole number that a double holds exactly and JSON writes without an exponent.
constexpr std::size_t kExactDigits = 15;

constexpr std::array<bool, 256> kNeedsQuotes = [] {
    std::array<bool, 256> special{};
    for (const char c : {',', '"', '\r', '\n'}) {
        special.at(static_cast<unsigned char>(c)) = true;
    }
    return special;
}();

// The bytes that JSON writes as they are inside a string: ASCII but for the quote, the
// backslash and the controls below space, which the serializer escapes (DEL it writes as is).
constexpr std::array<bool, 256> kJsonPlain = [] {
    std::array<bool, 256> plain{};
    for (unsigned int byte = 0x20; byte < 0x80; ++byte) {
        plain.at(byte) = byte != '"' && byte != '\\';
    }
    return plain;
}();

// RFC 4180: a field is quoted when it holds a comma, a quote or a line end, and a quote
// inside is doubled. Bytes that are not UTF-8 (in a desk's name, or a value a database kept)
// become U+FFFD, as JSON Lines writes them. Writes at `to`, which has room for three times
// the field and its quotes.
char* putCsvField(char* to, std::string_view value) {
    // Copied on the guess that it needs no quotes, which holds for nearly every field.
    bool special = false;
    unsigned char high = 0;
    char* const start = to;
    for (const char c : value) {
        special |= kNeedsQuotes[static_cast<unsigned char>(c)];
        high |= static_cast<unsigned char>(c);
        *to++ = c;
    }
    if (high >= 0x80 && !isUtf8(value)) {
        std::string mended;
        (void)replaceNotUtf8(mended, value);
        return putCsvField(start, mended);
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

// Whether the serializer writes `value` between quotes as it is.
bool isJsonPlain(std::string_view value) {
    return std::all_of(value.begin(), value.end(),
                       [](char c) { return kJsonPlain.at(static_cast<unsigned char>(c)); });
}

// A figure the serializer writes as its digits and ".0" once read as a double: a whole number
// of at most 15 digits, without a plus sign or a leading zero ("25" is 25.0, "-0" is -0.0).
bool writesAsItsDigits(std::string_view figure) {
    if (figure.starts_with('-')) {
        figure.remove_prefix(1);
    }
    return !figure.empty() && figure.size() <= kExactDigits && (figure[0] != '0' || figure.size() == 1) &&
           std::all_of(figure.begin(), figure.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void appendCsvRow(OutputBuffer& out, std::span<const std::string_view> values, bool forSpreadsheet) {
    const std::size_t room =
        std::accumulate(values.begin(), values.end(), values.size() * 4 + 2,
                        [](std::size_t sum, std::string_view value) { return sum + 3 * value.size(); });
    std::vector<char> large;
    char* const start = out.reserve(room, large);
    char* to = start;
    std::string guarded;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            *to++ = ',';
        }
        if (forSpreadsheet && readsAsFormula(values[i])) {
            // The apostrophe makes the cell text, and the spreadsheet does not show it.
            guarded.assign(1, '\'').append(values[i]);
            to = putCsvField(to, guarded);
        } else {
            to = putCsvField(to, values[i]);
        }
    }
    *to++ = '\r';
    *to++ = '\n';
    out.commit(static_cast<std::size_t>(to - start), large);
}

void appendCsvHeader(OutputBuffer& out, bool withKeys) {
    std::vector<std::string_view> names(kColumns.size());
    std::transform(kColumns.begin(), kColumns.end(), names.begin(),
                   [](const Column& column) { return column.name; });
    if (withKeys) {
        names.insert(names.end(), {"record_key", "state"});
    }
    appendCsvRow(out, names);
}

JsonRowWriter::JsonRowWriter(bool withKeys) : withKeys_(withKeys) {
    // The keys are plain ASCII words, written as they are; each row opens with the first.
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        keys_.at(i).append(i == 0 ? "{\"" : ",\"").append(kColumns.at(i).name).append("\":");
    }
    // The same with the quotes around each answer that needs no escaping, for appendPlain().
    const auto quoted = [](std::size_t i) {
        return i < kColumnCount && kColumns.at(i).kind == ColumnKind::text;
    };
    for (std::size_t i = 0; i <= kColumnCount; ++i) {
        std::string& joint = joints_.at(i);
        joint.append(i > 0 && quoted(i - 1) ? "\"" : "");
        joint.append(i < kColumnCount ? keys_.at(i) : std::string()).append(quoted(i) ? "\"" : "");
    }
}

bool JsonRowWriter::keysPlain(const Row& row) const {
    return !withKeys_ || (isJsonPlain(row.key) && isJsonPlain(row.state));
}

void JsonRowWriter::appendKeys(OutputBuffer& out, const Row& row) {
    if (withKeys_) {
        out.append(R"(,"record_key":)");
        text_.get_ref<std::string&>().assign(row.key);
        writer_.dump(text_, false, false, 0);
        out.append(R"(,"state":)");
        text_.get_ref<std::string&>().assign(row.state);
        writer_.dump(text_, false, false, 0);
    }
}

bool JsonRowWriter::appendPlain(OutputBuffer& out, const Row& row, std::size_t recordNumber,
                                std::size_t lineNumber) {
    if (!keysPlain(row)) {
        return false;
    }
    std::size_t room = joints_.back().size() + 2 + (withKeys_ ? row.key.size() + row.state.size() + 32 : 0);
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const std::string_view value = row.values.at(i);
        switch (kColumns.at(i).kind) {
            case ColumnKind::text:
                if (!isJsonPlain(value)) {
                    return false;
                }
                break;
            case ColumnKind::figure:
                if (!writesAsItsDigits(value)) {
                    return false;
                }
                break;
            case ColumnKind::whole: break;
        }
        room += joints_.at(i).size() + std::max(value.size() + 2, std::size_t{20});
    }
    std::vector<char> large;
    char* const start = out.reserve(room, large);
    char* to = start;
    const auto put = [&to](std::string_view bytes) { to = std::copy(bytes.begin(), bytes.end(), to); };
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns.at(i);
        put(joints_.at(i));
        switch (column.kind) {
            case ColumnKind::text: put(row.values.at(i)); break;
            case ColumnKind::figure:
                put(row.values.at(i));
                put(".0");
                break;
            case ColumnKind::whole:
                to = std::to_chars(to, to + 20,
                                   column.source == ColumnSource::record ? recordNumber : lineNumber)
                         .ptr;
                break;
        }
    }
    put(joints_.back());
    if (withKeys_) {
        put(R"(,"record_key":")");
        put(row.key);
        put(R"(","state":")");
        put(row.state);
        put("\"");
    }
    put("}\n");
    out.commit(static_cast<std::size_t>(to - start), large);
    return true;
}

void JsonRowWriter::append(OutputBuffer& out, const Row& row, std::size_t recordNumber,
                           std::size_t lineNumber) {
    if (appendPlain(out, row, recordNumber, lineNumber)) {
        return;
    }
    output_->to(out);
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns.at(i);
        out.append(keys_.at(i));
        switch (column.kind) {
            case ColumnKind::text: {
                const std::string_view value = row.values.at(i);
                if (isJsonPlain(value)) {
                    // Most answers: the serializer would write them between quotes unchanged.
                    out.append("\"");
                    out.append(value);
                    out.append("\"");
                    break;
                }
                auto& text = text_.get_ref<std::string&>();
                if (isAscii(value)) {
                    text.assign(value);
                } else {
                    // JSON holds only UTF-8; the file's name was told once, at its start.
                    text.clear();
                    (void)replaceNotUtf8(text, value);
                }
                writer_.dump(text_, false, false, 0);
                break;
            }
            case ColumnKind::whole:
                whole_.get_ref<std::uint64_t&>() =
                    column.source == ColumnSource::record ? recordNumber : lineNumber;
                writer_.dump(whole_, false, false, 0);
                break;
            case ColumnKind::figure:
                // Only records whose figures read as numbers are whole.
                figure_.get_ref<double&>() = parseFigure(row.values.at(i)).value_or(0.0);
                writer_.dump(figure_, false, false, 0);
                break;
        }
    }
    appendKeys(out, row);
    out.append("}\n");
}

}  // namespace profiledesk::office
