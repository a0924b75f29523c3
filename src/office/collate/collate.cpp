#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "office/collate/target.hpp"
#include "office/commands.hpp"
#include "office/io/desk_file.hpp"
#include "office/io/progress.hpp"

namespace profiledesk::office {

bool namesPostgres(std::string_view into) {
    return into.starts_with("postgresql://") || into.starts_with("postgres://") ||
           (into.find('=') != std::string_view::npos && !std::filesystem::exists(std::string(into)));
}

namespace {

// Hands every record of one file to the target with the hash of its content; the database
// numbers the records of the same content. Keeps where the file's last whole record ends.
class Collector final : public ScanListener {
public:
    Collector(Console& console, const std::string& path, CollateTarget& target, std::uint32_t file,
              Progress& progress)
        : console_(console), path_(path), target_(target), file_(file), progress_(progress) {}

    void onRecord(const StoredRecord& record) override {
        if (!failure.isOk()) {
            return;
        }
        const std::string content = contentHash(record.text);
        fillRow(path_, record, row_);
        failure = target_.add(row_, content, file_);
        if (const std::string_view note = target_.lastNote(); failure.isOk() && !note.empty()) {
            progress_.finish();
            tellProblem(console_.err, path_, record.firstLine, note);
        }
        last = Checkpoint{record.endOffset, record.number, record.firstLine + kRecordLines - 1,
                          record.endOffset - record.startOffset, content};
        progress_.addRecords(1);
    }

    void onProblem(const ScanProblem& problem) override {
        progress_.finish();
        tellProblem(console_.err, path_, problem.line, problem.what);
    }

    Status failure = Status::ok();
    std::optional<Checkpoint> last;  // after the last whole record read

private:
    Console& console_;
    const std::string& path_;
    CollateTarget& target_;
    std::uint32_t file_;
    Progress& progress_;
    Row row_;
};

std::optional<DeskFilePlace> placeOf(const std::optional<Checkpoint>& checkpoint) {
    if (!checkpoint) {
        return std::nullopt;
    }
    return DeskFilePlace{ScanStart{checkpoint->offset, static_cast<std::size_t>(checkpoint->lines),
                                   static_cast<std::size_t>(checkpoint->records)},
                         checkpoint->tailLength, checkpoint->tail};
}

}  // namespace

int runCollate(const CollateOptions& options, Console& console) {
    const bool postgres = namesPostgres(options.into);
    if (!postgres && isOneOf(options.into, options.files)) {
        tellError(console, options.into + ": is one of the files to collate; name another database");
        return 2;
    }
    OpenedTarget opened = postgres ? openPostgresTarget(options.into) : openSqliteTarget(options.into);
    if (!opened.target) {
        tellError(console, opened.status.message());
        return opened.unsupported ? 2 : 1;
    }
    std::vector<std::optional<Checkpoint>> checkpoints;
    if (const Status started = opened.target->start(options.files, checkpoints); !started.isOk()) {
        tellError(console, started.message());
        return 1;
    }
    Progress progress(console.err, console.errIsTerminal, totalSize(options.files));
    std::uint64_t problems = 0;
    std::uint64_t skipped = 0;  // records before a checkpoint, not read again
    for (std::uint32_t file = 0; file < options.files.size(); ++file) {
        const std::string& path = options.files.at(file);
        const std::optional<Checkpoint> checkpoint = options.full ? std::nullopt : checkpoints.at(file);
        Collector collector(console, path, *opened.target, file, progress);
        ScanCounts counts;
        ReadFrom how = ReadFrom::start;
        bool sized = false;
        const Status read = resumeDeskFile(
            path, placeOf(checkpoint), collector, counts,
            [&progress](std::size_t bytes) { progress.addBytes(bytes); }, how, sized);
        if (!collector.failure.isOk()) {
            progress.finish();
            tellError(console, collector.failure.message());
            return 1;  // the database is left as it was
        }
        if (how == ReadFrom::startChanged) {
            progress.finish();
            tellProblem(console.err, path, 0, "changed before the last collated record; read in full");
        }
        FileRun run{path, how != ReadFrom::place, std::nullopt, std::nullopt, read.isOk()};
        if (how == ReadFrom::place) {
            run.from = checkpoint;
            skipped += checkpoint->records;
        }
        if (sized) {
            run.reached = collector.last ? collector.last : run.from;
        }
        opened.target->endFile(std::move(run));  // the rows of a failed read are kept, not its checkpoint
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            ++problems;
        }
        problems += counts.problems;
    }
    CollateCounts counts;
    const Status committed = opened.target->commit(counts);
    progress.finish();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    console.out << counts.added << " added, " << counts.present + skipped << " already present, " << problems
                << " problems" << std::endl;
    return problems > 0 ? 1 : 0;
}

}  // namespace profiledesk::office
