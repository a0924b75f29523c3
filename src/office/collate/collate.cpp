#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/output_watch.hpp"
#include "common/visible.hpp"
#include "office/collate/target.hpp"
#include "office/commands.hpp"
#include "office/db/database.hpp"
#include "office/db/schema.hpp"
#include "office/desks/desk_file.hpp"
#include "office/desks/encoding.hpp"
#include "office/output/progress.hpp"

namespace profiledesk::office {

namespace {

// Hands every record of one file to the target with the hash of its content; the database
// numbers the records of the same content. Keeps where the file's last whole record ends.
class Collector final : public DeskListener {
public:
    Collector(Streams& console, const DeskInput& desk, CollateTarget& target, std::uint32_t file,
              Progress& progress)
        : console_(console), desk_(desk), target_(target), file_(file), progress_(progress) {}

    // Stops the scan at the first failure of the database: the run ends there, and what the
    // rest of the file holds no longer matters.
    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        // The bytes as stored, not as decoded: naming the encoding later adds nothing again.
        const std::string content = contentHash(stored);
        fillRow(desk_.name, record, row_);
        failure = target_.add(row_, content, file_);
        if (failure.isOk() && !target_.lastNotes().empty()) {
            tellNotes(record);
        }
        last = Checkpoint{record.endOffset, record.number, record.firstLine + kRecordLines - 1,
                          record.endOffset - record.startOffset, content};
        progress_.addRecords(1);
        return failure.isOk();
    }

    void onProblem(const ScanProblem& problem) override {
        progress_.finish();
        teller_.tell(desk_.path, problem.line, problem.what, problem.kind);
    }

    // What was not told in full.
    void endFile() {
        progress_.finish();
        teller_.endFile(desk_.path);
    }

    Status failure = Status::ok();
    std::optional<Checkpoint> last;  // after the last whole record read

private:
    // Each at the line that holds the value, as export tells them, in file order.
    void tellNotes(const StoredRecord& record) {
        std::vector<std::pair<std::size_t, std::string>> told;
        for (const CollateTarget::Note& note : target_.lastNotes()) {
            if (note.column >= kColumnCount) {
                continue;  // the key the target made, never a value of the file's
            }
            if (note.column != 0) {
                told.emplace_back(lineOf(record, row_.values.at(note.column)), std::string(note.what));
            } else if (!nameTold_) {  // the source column: the file's name, told once
                told.emplace_back(0,
                                  note.what == "not UTF-8"
                                      ? std::string(desk_.name == desk_.path ? "the file's" : "the desk's") +
                                            " name is not plain UTF-8 text; its records are kept under " +
                                            db::storedName(desk_.name)
                                      : std::string(note.what));
                nameTold_ = true;
            }
        }
        std::sort(told.begin(), told.end());
        told.erase(std::unique(told.begin(), told.end()), told.end());
        progress_.finish();
        for (const auto& [line, what] : told) {
            teller_.tell(desk_.path, line, what);
        }
    }

    Streams& console_;
    const DeskInput& desk_;
    CollateTarget& target_;
    std::uint32_t file_;
    Progress& progress_;
    Row row_;
    ProblemTeller teller_{console_.err, console_.allProblems};
    bool nameTold_ = false;
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

int runCollate(const CollateOptions& options, Streams& console) {
    if (!db::namesPostgres(options.into) && isOneOf(options.into, options.desks)) {
        tellError(console, options.into + ": is one of the files to collate; name another database");
        return 2;
    }
    if (const DeskInput* desk =
            db::namesPostgres(options.into) ? nullptr : namedByPattern(options.into, options.desks)) {
        tellError(console, options.into + ": the desks file's " + desk->pattern +
                               " names it, so it would be read as desk " + desk->name +
                               "; name another database");
        return 2;
    }
    auto opened = openTarget(
        options.into, options.waitSeconds, [&console](const std::string& told) { tellError(console, told); },
        options.by, options.at);
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    return collateInto(*opened.value(), options.desks, console, options.full);
}

int collateInto(CollateTarget& target, const std::vector<DeskInput>& desks, Streams& console, bool full) {
    // A checkpoint belongs to a desk's name, the records' source.
    std::vector<std::string> sources;
    sources.reserve(desks.size());
    std::transform(desks.begin(), desks.end(), std::back_inserter(sources),
                   [](const DeskInput& desk) { return desk.name; });
    std::vector<DeskState> kept;
    if (const Status started = target.start(sources, kept); !started.isOk()) {
        tellError(console, started.message());
        return 1;
    }
    Progress progress(console.err, console.errIsTerminal, totalSize(desks));
    std::uint64_t problems = 0;
    // Reads one file after `checkpoint` (or from its start), handing its rows to the target;
    // a failure of the target ends the run.
    const auto readFile = [&](std::uint32_t file, const std::optional<Checkpoint>& checkpoint, FileRun& run) {
        const DeskInput& desk = desks.at(file);
        const bool shared = std::count(sources.begin(), sources.end(), desk.name) > 1;
        Collector collector(console, desk, target, file, progress);
        ScanCounts counts;
        ReadFrom how = ReadFrom::start;
        bool sized = false;
        const Status read = resumeDeskFile(
            desk, placeOf(checkpoint), collector, counts, console.maxLineBytes,
            [&progress](std::size_t bytes) { progress.addBytes(bytes); }, how, sized);
        collector.endFile();
        if (!collector.failure.isOk()) {
            return collector.failure;  // the database is left as it was
        }
        if (how == ReadFrom::startChanged) {
            progress.finish();
            tellProblem(console.err, desk.path, 0, "changed before the last collated record; read in full");
        }
        run.source = desk.name;
        run.fromStart = how != ReadFrom::place;
        run.keeps = read.isOk();
        run.from = how == ReadFrom::place ? checkpoint : std::nullopt;
        run.reached = std::nullopt;
        if (sized && !shared) {
            run.reached = collector.last ? collector.last : run.from;
        }
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            ++problems;
        }
        problems += counts.problems;
        return Status::ok();
    };
    for (std::uint32_t file = 0; file < desks.size(); ++file) {
        const DeskInput& desk = desks.at(file);
        // A name given to several files of the run (a desk's pattern) has no one place to
        // start from: they are all read from their start, and the name keeps no checkpoint.
        const bool shared = std::count(sources.begin(), sources.end(), desk.name) > 1;
        const DeskState& state = kept.at(file);
        const std::string encoding(desk.encoding.empty() ? kUtf8 : std::string_view(desk.encoding));
        // A desk collated in another encoding is read again in full, its answers decoded anew.
        // One the database does not know the encoding of was read as UTF-8 unless named.
        const bool reread = state.known && (state.encoding ? *state.encoding != encoding : encoding != kUtf8);
        if (state.checkpoint && state.disagrees && !full && !shared) {
            progress.finish();
            tellProblem(console.err, desk.path, 0,
                        "the database no longer holds what its last collate left (rows or counts changed by "
                        "hand); read in full");
        }
        FileRun run;
        run.encoding = encoding;
        run.reread = reread;
        run.was = state.encoding.value_or("");
        run.known = state.known;
        const Status read = readFile(
            file, full || shared || reread || state.disagrees ? std::nullopt : state.checkpoint, run);
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            return 1;  // the database is left as it was
        }
        target.endFile(std::move(run));  // the rows of a failed read are kept, not its checkpoint
    }
    CollateCounts counts;
    const Status committed = target.commit(counts, readFile);
    progress.finish();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    if (target.made()) {
        // A name mistyped makes a new database: said, so that it is seen.
        tellError(console, "made a new database " + target.name());
    }
    for (const Reread& again : counts.reread) {
        tellProblem(console.err, visibleText(again.source), 0,
                    "read again as " + again.now + (again.was.empty() ? "" : " (was " + again.was + ")") +
                        ": " + std::to_string(again.changed) +
                        (again.changed == 1 ? " record's" : " records'") + " answers changed");
    }
    console.out << counts.added << " added, " << counts.present + counts.skipped << " already present, ";
    if (counts.gone > 0) {
        console.out << counts.gone << " marked gone from their desk's file, ";
    }
    console.out << problems << " problems" << '\n';
    if (tellIfOutputFailed(console)) {
        return 1;  // the records are in; only the summary is lost
    }
    return problems > 0 ? 1 : 0;
}

}  // namespace profiledesk::office
