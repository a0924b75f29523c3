#include "office/output/row_writer.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "common/visible.hpp"

namespace profiledesk::office {

namespace {

struct FormatName {
    std::string_view name;
    Format format;  // cppcheck-suppress unusedStructMember
};

constexpr std::array<FormatName, 3> kFormats{{
    {"csv", Format::csv},
    {"jsonl", Format::jsonl},
    {"text", Format::text},
}};

class CsvWriter final : public RowWriter {
public:
    CsvWriter(OutputBuffer& out, const WriterOptions& options) : out_(out), options_(options) {}
    void begin() override {
        if (options_.forSpreadsheet) {
            out_.append("\xEF\xBB\xBF");  // so that a spreadsheet reads the cells as UTF-8
        }
        appendCsvHeader(out_, options_.withKeys);
    }
    void write(const Row& row, std::size_t /*recordNumber*/, std::size_t /*lineNumber*/) override {
        if (!options_.withKeys) {
            appendCsvRow(out_, row.values, options_.forSpreadsheet);
            return;
        }
        std::copy(row.values.begin(), row.values.end(), withKeys_.begin());
        withKeys_.at(kColumnCount) = row.key;
        withKeys_.at(kColumnCount + 1) = row.state;
        appendCsvRow(out_, withKeys_, options_.forSpreadsheet);
    }

private:
    OutputBuffer& out_;
    WriterOptions options_;
    std::array<std::string_view, kColumnCount + 2> withKeys_{};
};

class JsonLinesWriter final : public RowWriter {
public:
    JsonLinesWriter(OutputBuffer& out, bool withKeys) : out_(out), json_(withKeys) {}
    void write(const Row& row, std::size_t recordNumber, std::size_t lineNumber) override {
        json_.append(out_, row, recordNumber, lineNumber);
    }

private:
    OutputBuffer& out_;
    JsonRowWriter json_;
};

// The desk and when, then each answer under its name, controls made visible: the answers are a
// desk's typing, shown on a terminal. Profiles are parted by a blank line.
class ProfileWriter final : public RowWriter {
public:
    explicit ProfileWriter(OutputBuffer& out) : out_(out) {}
    void write(const Row& row, std::size_t /*recordNumber*/, std::size_t /*lineNumber*/) override {
        // The widest answer's name, and the room after it.
        constexpr std::size_t kNameWidth = 20 + 2;
        text_.clear();
        if (written_) {
            text_ += '\n';
        }
        std::string when(row.values.at(3));
        if (when.size() > 10 && when[10] == 'T') {
            when[10] = ' ';
        }
        text_.append(visibleText(row.values.at(0))).append(", ").append(visibleText(when)).append("\n");
        if (!row.key.empty()) {
            // The key names the record to the clerk's other commands.
            constexpr std::string_view kKey = "record_key";
            text_.append("  ")
                .append(kKey)
                .append(kNameWidth - kKey.size(), ' ')
                .append(visibleText(row.key));
            text_.append(row.state.empty() || row.state == "new" ? "" : " (" + visibleText(row.state) + ")");
            text_.append("\n");
        }
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Column& column = kColumns.at(i);
            if (column.source == ColumnSource::answer) {
                text_.append("  ").append(column.name).append(kNameWidth - column.name.size(), ' ');
                text_.append(visibleText(row.values.at(i))).append("\n");
            }
        }
        out_.append(text_);
        written_ = true;
    }

private:
    OutputBuffer& out_;
    std::string text_;
    bool written_ = false;
};

}  // namespace

std::optional<Format> formatNamed(std::string_view name) {
    const auto* found = std::find_if(kFormats.begin(), kFormats.end(), [name](const FormatName& format) {
        return std::equal(name.begin(), name.end(), format.name.begin(), format.name.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    });
    return found != kFormats.end() ? std::optional<Format>(found->format) : std::nullopt;
}

std::string formatNames() {
    std::string names;
    for (const FormatName& format : kFormats) {
        if (!names.empty()) {
            names += &format == &kFormats.back() ? " or " : ", ";
        }
        names += format.name;
    }
    return names;
}

std::unique_ptr<RowWriter> makeRowWriter(Format format, OutputBuffer& out, const WriterOptions& options) {
    switch (format) {
        case Format::csv: return std::make_unique<CsvWriter>(out, options);
        case Format::jsonl: return std::make_unique<JsonLinesWriter>(out, options.withKeys);
        case Format::text: break;
    }
    return std::make_unique<ProfileWriter>(out);
}

}  // namespace profiledesk::office
