#include <xxhash.h>

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/output_watch.hpp"
#include "office/collate/target.hpp"
#include "office/commands.hpp"
#include "office/io/desk_file.hpp"
#include "office/io/progress.hpp"

namespace profiledesk::office {

namespace {

struct HashOf {
    std::size_t operator()(const XXH128_hash_t& hash) const { return static_cast<std::size_t>(hash.low64); }
};
struct SameHash {
    bool operator()(const XXH128_hash_t& a, const XXH128_hash_t& b) const {
        return XXH128_isEqual(a, b) != 0;
    }
};

// Gives every record of one file its key: the hash of its bytes (line ends made LF) and
// its place among the identical records of that file, so that a record entered twice is
// kept twice, and the same file collated again adds nothing.
class Collector final : public DeskListener {
public:
    Collector(Streams& console, const DeskInput& desk, CollateTarget& target, Progress& progress)
        : console_(console), desk_(desk), target_(target), progress_(progress) {}

    // Stops the scan at the first failure of the database: the run ends there, and what the
    // rest of the file holds no longer matters.
    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        // The bytes as stored, not as decoded: naming the encoding later adds nothing again.
        const XXH128_hash_t hash = XXH3_128bits(stored.data(), stored.size());
        const std::uint64_t ordinal = ++seen_[hash];
        std::array<char, 64> key{};
        const int length = std::snprintf(
            key.data(), key.size(), "%016llx%016llx-%llu", static_cast<unsigned long long>(hash.high64),
            static_cast<unsigned long long>(hash.low64), static_cast<unsigned long long>(ordinal));
        fillRow(desk_.name, record, row_);
        failure = target_.add(row_, std::string_view(key.data(), static_cast<std::size_t>(length)));
        if (failure.isOk() && !target_.lastNotes().empty()) {
            tellNotes(record);
        }
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

private:
    // Each at the line that holds the value, as export tells them, in file order.
    void tellNotes(const StoredRecord& record) {
        std::vector<std::pair<std::size_t, std::string_view>> told;
        for (const CollateTarget::Note& note : target_.lastNotes()) {
            if (note.column != 0) {
                told.emplace_back(lineOf(record, row_.values.at(note.column)), note.what);
            } else if (!nameTold_) {  // the source column: the file's name, told once
                told.emplace_back(0, note.what == "not UTF-8" ? "the file's name is not UTF-8" : note.what);
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
    Progress& progress_;
    std::unordered_map<XXH128_hash_t, std::uint64_t, HashOf, SameHash> seen_;
    Row row_;
    ProblemTeller teller_{console_.err, console_.allProblems};
    bool nameTold_ = false;
};

}  // namespace

int runCollate(const CollateOptions& options, Streams& console) {
    const bool postgres = namesPostgres(options.into);
    if (!postgres && isOneOf(options.into, options.desks)) {
        tellError(console, options.into + ": is one of the files to collate; name another database");
        return 2;
    }
    OpenedTarget opened =
        postgres ? openPostgresTarget(options.into) : openSqliteTarget(options.into, options.waitSeconds);
    if (!opened.target) {
        tellError(console, opened.status.message());
        return opened.unsupported ? 2 : 1;
    }
    return collateInto(*opened.target, options.desks, console);
}

int collateInto(CollateTarget& target, const std::vector<DeskInput>& desks, Streams& console) {
    Progress progress(console.err, console.errIsTerminal, totalSize(desks));
    std::uint64_t problems = 0;
    for (const DeskInput& desk : desks) {
        Collector collector(console, desk, target, progress);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, collector, counts, console.maxLineBytes,
                                         [&progress](std::size_t bytes) { progress.addBytes(bytes); });
        collector.endFile();
        if (!collector.failure.isOk()) {
            progress.finish();
            tellError(console, collector.failure.message());
            return 1;  // the database is left as it was
        }
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            ++problems;
        }
        problems += counts.problems;
    }
    CollateCounts counts;
    const Status committed = target.commit(counts);
    progress.finish();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    console.out << counts.added << " added, " << counts.present << " already present, " << problems
                << " problems" << '\n';
    if (tellIfOutputFailed(console)) {
        return 1;  // the records are in; only the summary is lost
    }
    return problems > 0 ? 1 : 0;
}

}  // namespace profiledesk::office
