#include <xxhash.h>

#include <array>
#include <filesystem>
#include <string>
#include <unordered_map>

#include "common/native_path.hpp"
#include "office/collate/target.hpp"
#include "office/commands.hpp"
#include "office/io/desk_file.hpp"
#include "office/io/progress.hpp"

namespace profiledesk::office {

bool namesPostgres(std::string_view into) {
    return into.starts_with("postgresql://") || into.starts_with("postgres://") ||
           (into.find('=') != std::string_view::npos && !std::filesystem::exists(nativePath(into)));
}

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

    void onRecord(const StoredRecord& record, std::string_view stored) override {
        if (!failure.isOk()) {
            return;
        }
        // The bytes as stored, not as decoded: naming the encoding later adds nothing again.
        const XXH128_hash_t hash = XXH3_128bits(stored.data(), stored.size());
        const std::uint64_t ordinal = ++seen_[hash];
        std::array<char, 64> key{};
        const int length = std::snprintf(
            key.data(), key.size(), "%016llx%016llx-%llu", static_cast<unsigned long long>(hash.high64),
            static_cast<unsigned long long>(hash.low64), static_cast<unsigned long long>(ordinal));
        fillRow(desk_.name, record, row_);
        failure = target_.add(row_, std::string_view(key.data(), static_cast<std::size_t>(length)));
        if (const std::string_view note = target_.lastNote(); failure.isOk() && !note.empty()) {
            progress_.finish();
            tellProblem(console_.err, desk_.path, record.firstLine, note);
        }
        progress_.addRecords(1);
    }

    void onProblem(const ScanProblem& problem) override {
        progress_.finish();
        tellProblem(console_.err, desk_.path, problem.line, problem.what);
    }

    Status failure = Status::ok();

private:
    Streams& console_;
    const DeskInput& desk_;
    CollateTarget& target_;
    Progress& progress_;
    std::unordered_map<XXH128_hash_t, std::uint64_t, HashOf, SameHash> seen_;
    Row row_;
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
    Progress progress(console.err, console.errIsTerminal, totalSize(options.desks));
    std::uint64_t problems = 0;
    for (const DeskInput& desk : options.desks) {
        Collector collector(console, desk, *opened.target, progress);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, collector, counts,
                                         [&progress](std::size_t bytes) { progress.addBytes(bytes); });
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
    const Status committed = opened.target->commit(counts);
    progress.finish();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    console.out << counts.added << " added, " << counts.present << " already present, " << problems
                << " problems" << std::endl;
    return problems > 0 ? 1 : 0;
}

}  // namespace profiledesk::office
