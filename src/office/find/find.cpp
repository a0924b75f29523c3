// find: the profiles whose answers hold a text, case ignored across Unicode, from the desks'
// files or from the database collate fills.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/utf8.hpp"
#include "common/visible.hpp"
#include "office/commands.hpp"
#include "office/db/db_reader.hpp"
#include "office/desks/desk_file.hpp"
#include "office/find/fold.hpp"
#include "office/output/rows.hpp"

namespace profiledesk::office {

namespace {

// The widest answer's name, and the room after it, for the clerk's view.
constexpr std::size_t kNameWidth = 20 + 2;

// Whether a row's answers (or the one column asked for) hold the folded text.
class Matcher {
public:
    Matcher(std::string_view text, std::optional<std::size_t> column) : folded_(foldCase(text)) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (column ? i == *column : kColumns.at(i).source == ColumnSource::answer) {
                columns_.push_back(i);
            }
        }
    }

    [[nodiscard]] bool matches(const Row& row) const {
        return std::ranges::any_of(columns_, [&](std::size_t column) {
            return foldCase(row.values.at(column)).find(folded_) != std::string::npos;
        });
    }

private:
    std::string folded_;
    std::vector<std::size_t> columns_;
};

// Writes each matching row as the format asks.
class FoundWriter {
public:
    FoundWriter(std::ostream& sink, std::string_view format) : out_(sink), format_(format) {
        if (format_ == "csv") {
            appendCsvHeader(out_);
        }
    }

    void write(const Row& row, std::size_t recordNumber, std::size_t lineNumber) {
        if (format_ == "csv") {
            appendCsvRow(out_, row.values);
        } else if (format_ == "jsonl") {
            json_.append(out_, row, recordNumber, lineNumber);
        } else {
            appendProfile(row);
        }
        ++found_;
    }

    void flush() { out_.flush(); }
    [[nodiscard]] std::size_t found() const { return found_; }

private:
    // The desk and when, then each answer under its name, controls made visible and the text
    // made UTF-8: the answers are a desk's typing, shown on a terminal.
    void appendProfile(const Row& row) {
        std::string text = found_ > 0 ? "\n" : "";
        std::string when(row.values.at(3));
        if (when.size() > 10 && when[10] == 'T') {
            when[10] = ' ';
        }
        text.append(visibleText(row.values.at(0))).append(", ").append(visibleText(when)).append("\n");
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Column& column = kColumns.at(i);
            if (column.source == ColumnSource::answer) {
                text.append("  ").append(column.name).append(kNameWidth - column.name.size(), ' ');
                text.append(visibleText(row.values.at(i))).append("\n");
            }
        }
        out_.append(text);
    }

    OutputBuffer out_;
    std::string_view format_;
    JsonRowWriter json_;
    std::size_t found_ = 0;
};

// Reads a desk's records, tells its problems as the other commands do, and writes those
// that match.
class Finder final : public DeskListener {
public:
    Finder(Streams& console, const FindOptions& options, const Matcher& matcher, FoundWriter& writer)
        : console_(console), options_(options), matcher_(matcher), writer_(writer) {}

    void startFile(const DeskInput& desk) { desk_ = &desk; }

    bool onRecord(const StoredRecord& record, std::string_view /*stored*/) override {
        if (options_.dates.contains(record.enteredAt)) {
            fillRow(desk_->name, record, row_);
            if (matcher_.matches(row_)) {
                writer_.write(row_, record.number, record.firstLine);
            }
        }
        return true;
    }

    void onProblem(const ScanProblem& problem) override {
        teller_.tell(desk_->path, problem.line, problem.what, problem.kind);
    }

    void endFile() { teller_.endFile(desk_->path); }

private:
    Streams& console_;
    const FindOptions& options_;
    const Matcher& matcher_;
    FoundWriter& writer_;
    const DeskInput* desk_ = nullptr;
    Row row_;
    ProblemTeller teller_{console_.err, console_.allProblems};
};

// The column --field names, or the usage error that lists those there are.
std::optional<std::size_t> columnNamed(std::string_view name, Streams& console) {
    std::string names;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (kColumns.at(i).source != ColumnSource::answer) {
            continue;
        }
        if (kColumns.at(i).name == name) {
            return i;
        }
        names.append(names.empty() ? "" : ", ").append(kColumns.at(i).name);
    }
    tellError(console, "--field: no answer named '" + std::string(name) + "' (the answers: " + names + ")");
    return std::nullopt;
}

}  // namespace

int runFind(const FindOptions& options, Streams& console) {
    std::optional<std::size_t> column;
    if (!options.field.empty() && !(column = columnNamed(options.field, console))) {
        return 2;
    }
    if (!isUtf8(options.text)) {
        tellError(console, "TEXT is not UTF-8");
        return 2;
    }
    const Matcher matcher(options.text, column);
    FoundWriter writer(console.out, options.format);
    bool unread = false;
    if (!options.fromDb.empty()) {
        const DatabaseRead read =
            readRecordRows(options.fromDb, "--from-db", options.dates,
                           [&](const Row& row, std::size_t recordNumber, std::size_t lineNumber) {
                               if (matcher.matches(row)) {
                                   writer.write(row, recordNumber, lineNumber);
                               }
                               return true;
                           });
        if (!read.status.isOk()) {
            writer.flush();
            tellError(console, read.status.message());
            unread = true;
        }
    } else {
        Finder finder(console, options, matcher, writer);
        for (const DeskInput& desk : options.desks) {
            finder.startFile(desk);
            ScanCounts counts;
            const Status read = scanDeskFile(desk, finder, counts, console.maxLineBytes);
            finder.endFile();
            if (!read.isOk()) {
                writer.flush();  // what was found before it comes first
                tellError(console, read.message());
                unread = true;
            }
        }
    }
    writer.flush();
    if (tellIfOutputFailed(console) || unread) {
        return 2;
    }
    return writer.found() > 0 ? 0 : 1;
}

}  // namespace profiledesk::office
