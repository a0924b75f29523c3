#include <string>

#include "common/output_watch.hpp"
#include "common/utf8.hpp"
#include "office/columns.hpp"
#include "office/commands.hpp"
#include "office/db/migrate.hpp"
#include "office/db/records_read.hpp"
#include "office/desks/desk_file.hpp"
#include "office/output/output_file.hpp"
#include "office/output/progress.hpp"
#include "office/output/row_writer.hpp"

namespace profiledesk::office {

namespace {

// Writes the rows of one file's records that fall in the days asked for, and tells the
// file's problems as FILE:LINE: what.
class Exporter final : public DeskListener {
public:
    Exporter(Streams& console, const ExportOptions& options, RowWriter& writer, Progress& progress)
        : console_(console), options_(options), writer_(writer), progress_(progress) {}

    void startFile(const DeskInput& desk) {
        endFile();
        desk_ = &desk;
        if (options_.format == Format::jsonl && !isUtf8(desk.name)) {
            tell(0, desk.name == desk.path ? "the file's name is not UTF-8" : "the desk's name is not UTF-8");
        }
    }

    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        progress_.addRecords(1);
        if (!options_.dates.contains(record.enteredAt)) {
            return true;
        }
        fillRow(desk_->name, record, row_);
        if (options_.withKeys) {
            key_ = keys_.keyOf(contentHash(stored));
            row_.key = key_;
        }
        writer_.write(row_, record.number, record.firstLine);
        return true;
    }

    void onProblem(const ScanProblem& problem) override { tell(problem.line, problem.what, problem.kind); }
    // Told as a problem is, but the records are whole: no exit status changes for it.
    void onNote(const ScanProblem& note) override {
        progress_.finish();
        teller_.tell(desk_->path, note.line, note.what, note.kind);
    }

    // What the last file had that was not told in full.
    void endFile() {
        if (desk_ != nullptr) {
            progress_.finish();
            teller_.endFile(desk_->path);
        }
    }

    [[nodiscard]] bool toldProblems() const { return told_; }

private:
    void tell(std::size_t line, const std::string& what, std::string_view kind = {}) {
        progress_.finish();
        teller_.tell(desk_->path, line, what, kind);
        told_ = true;
    }

    Streams& console_;
    const ExportOptions& options_;
    RowWriter& writer_;
    Progress& progress_;
    const DeskInput* desk_ = nullptr;
    Row row_;
    KeyCounter keys_;  // every record's, when keys are asked for
    std::string key_;
    bool told_ = false;
    ProblemTeller teller_{console_.err, console_.allProblems};
};

// Exports every file into `sink`; the status to end with, problems told on the way.
int exportFiles(const ExportOptions& options, Streams& console, std::ostream& sink, bool showProgress) {
    OutputBuffer out(sink);
    const std::unique_ptr<RowWriter> writer =
        makeRowWriter(options.format, out, WriterOptions{options.forSpreadsheet, options.withKeys});
    Progress progress(console.err, showProgress, totalSize(options.desks));
    Exporter exporter(console, options, *writer, progress);
    writer->begin();
    int status = 0;
    for (const DeskInput& desk : options.desks) {
        exporter.startFile(desk);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, exporter, counts, console.maxLineBytes,
                                         [&progress](std::size_t bytes) { progress.addBytes(bytes); });
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            status = 1;
        }
    }
    exporter.endFile();
    out.flush();
    progress.finish();
    return exporter.toldProblems() ? 1 : status;
}

// The records the database holds, as they are now.
int exportDatabase(const ExportOptions& options, Streams& console, std::ostream& sink) {
    OutputBuffer out(sink);
    const std::unique_ptr<RowWriter> writer =
        makeRowWriter(options.format, out, WriterOptions{options.forSpreadsheet, options.withKeys});
    auto opened = db::openOffice(options.fromDb, db::Access::read, db::OpenOptions{"--from-db"},
                                 [&console](const std::string& told) { tellError(console, told); });
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    writer->begin();
    const Status read =
        db::readRecords(*opened.value(), db::RecordFilter{options.dates, options.everyRecord, false},
                        [&writer](const Row& row, std::size_t recordNumber, std::size_t lineNumber) {
                            writer->write(row, recordNumber, lineNumber);
                            return true;
                        });
    out.flush();
    return tellFailure(console, read);
}

int exportToFile(const ExportOptions& options, Streams& console) {
    const std::string& output = options.output;
    if (isOneOf(output, options.desks)) {
        tellError(console, output + ": is one of the files to export; name another output file");
        return 2;
    }
    if (const DeskInput* desk = namedByPattern(output, options.desks)) {
        tellError(console, output + ": the desks file's " + desk->pattern +
                               " names it, so it would be read as desk " + desk->name +
                               "; name another output file");
        return 2;
    }
    OutputFile file(output);
    if (!file.opened().isOk()) {
        return tellFailure(console, file.opened());
    }
    const int status = options.fromDb.empty()
                           ? exportFiles(options, console, file.stream(), console.errIsTerminal)
                           : exportDatabase(options, console, file.stream());
    const Status committed = file.commit();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    return status;
}

}  // namespace

int runExport(const ExportOptions& options, Streams& console) {
    if (!options.output.empty()) {
        return exportToFile(options, console);
    }
    const int status = options.fromDb.empty() ? exportFiles(options, console, console.out, false)
                                              : exportDatabase(options, console, console.out);
    return tellIfOutputFailed(console) ? 1 : status;
}

}  // namespace profiledesk::office
