// find: the profiles whose answers hold a text, case ignored across Unicode, from the desks'
// files or from the database collate fills.

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/utf8.hpp"
#include "office/commands.hpp"
#include "office/db/answer_index.hpp"
#include "office/db/migrate.hpp"
#include "office/db/records_read.hpp"
#include "office/desks/desk_file.hpp"
#include "office/fold/caseless.hpp"
#include "office/output/row_writer.hpp"

namespace profiledesk::office {

namespace {

// Whether a row's answers (or the one column asked for) hold the text.
class Matcher {
public:
    Matcher(std::string_view text, std::optional<std::size_t> column) : search_(text) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (column ? i == *column : kColumns.at(i).source == ColumnSource::answer) {
                columns_.push_back(i);
            }
        }
    }

    [[nodiscard]] const CaselessSearch& search() const { return search_; }

    [[nodiscard]] bool matches(const Row& row) {
        return std::ranges::any_of(
            columns_, [&](std::size_t column) { return search_.foundIn(row.values.at(column)); });
    }

    // Looked for in the record's answers as read, before any row is made of it: most records
    // match nothing. Every answer of an ASCII record is ASCII, and none is looked at twice.
    [[nodiscard]] bool matches(const StoredRecord& record) {
        const auto value = [&record](std::size_t column) { return record.field(kColumns.at(column).field); };
        if (record.ascii) {
            return std::ranges::any_of(
                columns_, [&](std::size_t column) { return search_.foundInAscii(value(column)); });
        }
        return std::ranges::any_of(columns_,
                                   [&](std::size_t column) { return search_.foundIn(value(column)); });
    }

private:
    CaselessSearch search_;
    std::vector<std::size_t> columns_;
};

// Writes each matching row as the format asks, and counts them.
class FoundWriter {
public:
    FoundWriter(std::ostream& sink, Format format) : out_(sink), writer_(makeRowWriter(format, out_)) {
        writer_->begin();
    }

    void write(const Row& row, std::size_t recordNumber, std::size_t lineNumber) {
        writer_->write(row, recordNumber, lineNumber);
        ++found_;
    }

    void flush() { out_.flush(); }
    [[nodiscard]] std::size_t found() const { return found_; }

private:
    OutputBuffer out_;
    std::unique_ptr<RowWriter> writer_;
    std::size_t found_ = 0;
};

// Reads a desk's records, tells its problems as the other commands do, and writes those
// that match.
class Finder final : public DeskListener {
public:
    Finder(Streams& console, const FindOptions& options, Matcher& matcher, FoundWriter& writer)
        : console_(console), options_(options), matcher_(matcher), writer_(writer) {}

    void startFile(const DeskInput& desk) {
        desk_ = &desk;
        keys_.clear();
    }

    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        if (options_.dates.contains(record.enteredAt) && matcher_.matches(record)) {
            fillRow(desk_->name, record, row_);
            // Its key as a collate of this file keys it, for the clerk's other commands.
            key_ = keys_.keyOf(contentHash(stored));
            row_.key = key_;
            writer_.write(row_, record.number, record.firstLine);
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
    Matcher& matcher_;
    FoundWriter& writer_;
    const DeskInput* desk_ = nullptr;
    Row row_;
    KeyCounter keys_;
    std::string key_;
    ProblemTeller teller_{console_.err, console_.allProblems};
};

}  // namespace

int runFind(const FindOptions& options, Streams& console) {
    std::optional<std::size_t> column;
    if (!options.field.empty()) {
        const Result<std::size_t> named = answerColumn(options.field);
        if (!named.isOk()) {
            return tellFailure(console, Status::usage("--field: " + named.status().message()));
        }
        column = named.value();
    }
    if (!isUtf8(options.text)) {
        tellError(console, "TEXT is not UTF-8");
        return 2;
    }
    Matcher matcher(options.text, column);
    if (matcher.search().folded().empty()) {
        // Folding drops such characters, and every answer holds the empty text that remains.
        tellError(console, options.text.empty()
                               ? "TEXT is empty: name a text to find"
                               : "TEXT holds only characters that are not seen (such as U+200B or "
                                 "U+00AD): name a text to find");
        return 2;
    }
    FoundWriter writer(console.out, options.format);
    bool unread = false;
    if (!options.fromDb.empty()) {
        auto opened = db::openOffice(options.fromDb, db::Access::read, db::OpenOptions{"--from-db"},
                                     [&console](const std::string& told) { tellError(console, told); });
        // The records the index of answers names, each searched as in the files.
        db::RecordNumbers named;
        CaselessSearch search(options.text);
        Result<const db::RecordNumbers*> only =
            opened.isOk() ? db::narrowSearch(*opened.value(), search, named) : opened.status();
        Status read = only.status();
        const db::RecordFilter filter{options.dates, options.everyRecord, false,
                                      only.isOk() ? only.value() : nullptr};
        read = read.isOk()
                   ? db::readRecords(*opened.value(), filter,
                                     [&](const Row& row, std::size_t recordNumber, std::size_t lineNumber) {
                                         if (matcher.matches(row)) {
                                             writer.write(row, recordNumber, lineNumber);
                                         }
                                         return true;
                                     })
                   : read;
        if (!read.isOk()) {
            writer.flush();
            tellError(console, read);
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
