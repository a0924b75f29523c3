#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/output_watch.hpp"
#include "office/commands.hpp"
#include "office/db/migrate.hpp"
#include "office/desks/desk_file.hpp"
#include "office/output/output_file.hpp"
#include "office/output/progress.hpp"
#include "office/quality.hpp"
#include "office/report/page.hpp"
#include "office/report/tally_sql.hpp"

namespace profiledesk::office {

namespace {

// Counts the records of one file that fall in the dates asked for, and tells each problem
// as FILE:LINE: what, as check and export do.
class ReportListener final : public DeskListener {
public:
    ReportListener(Streams& console, const DeskInput& desk, const DateRange& dates, ReportTally& tally,
                   Progress& progress, ReportCounts& looks)
        : console_(console),
          path_(desk.path),
          dates_(dates),
          tally_(tally),
          progress_(progress),
          desk_(desk.name),
          looks_(looks) {}

    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        progress_.addRecords(1);
        if (dates_.contains(record.enteredAt)) {
            tally_.addRecord(record);
            ++kept;
            lookAt(record, findings_, false);
            if (!findings_.empty()) {
                lookedAt(record, stored);
            }
        }
        return true;
    }

    void onProblem(const ScanProblem& problem) override {
        progress_.finish();
        teller_.tell(path_, problem.line, problem.what, problem.kind);
    }

    // What was not told in full.
    void endFile() {
        for (const auto& [rule, records] : rules_) {
            looks_.looks[std::string(rule)] += records;
        }
        progress_.finish();
        teller_.endFile(path_);
    }

    std::uint64_t kept = 0;

private:
    void lookedAt(const StoredRecord& record, std::string_view stored) {
        ReportCounts& counted = looks_;
        ++counted.needingALook;
        // Counted by rule apart from the map: where every record needs a look, a lookup in it by
        // name for each finding, and a new list of findings for each record, cost 6% of a report.
        for (const Finding& finding : findings_) {
            auto found = std::find_if(rules_.begin(), rules_.end(),
                                      [&finding](const auto& rule) { return rule.first == finding.rule; });
            if (found == rules_.end()) {
                found = rules_.insert(rules_.end(), {finding.rule, 0});
            }
            ++found->second;
        }
        // Keys only for the records the page lists: every earlier record of the same content
        // needed a look too and was listed first, so its count is there. Counting every record's
        // content took 45 MB a GiB where every record needs a look.
        if (counted.lookedAt.size() < kLookedAtShown) {
            counted.lookedAt.push_back({desk_, keys_.keyOf(contentHash(stored)),
                                        isoLocalTime(record.enteredAt), findingsText(lookAt(record))});
        }
    }

    Streams& console_;
    const std::string& path_;
    const DateRange& dates_;
    ReportTally& tally_;
    Progress& progress_;
    std::string desk_;
    ReportCounts& looks_;  // what needs a look, over every file
    KeyCounter keys_;
    std::vector<Finding> findings_;  // the record's, in room kept from one record to the next
    std::vector<std::pair<std::string_view, std::uint64_t>> rules_;  // this file's records by rule
    ProblemTeller teller_{console_.err, console_.allProblems};
};

}  // namespace

int runReport(const ReportOptions& options, Streams& console) {
    if (!options.output.empty() && isOneOf(options.output, options.desks)) {
        tellError(console, options.output + ": is one of the files to report on; name another page");
        return 2;
    }
    if (const DeskInput* desk =
            options.output.empty() ? nullptr : namedByPattern(options.output, options.desks)) {
        tellError(console, options.output + ": the desks file's " + desk->pattern +
                               " names it, so it would be read as desk " + desk->name +
                               "; name another page");
        return 2;
    }
    if (!options.output.empty() && !options.fromDb.empty() && !db::namesPostgres(options.fromDb) &&
        isOneOf(options.output, {DeskInput{options.fromDb, options.fromDb, {}}})) {
        tellError(console, options.output + ": is the database to report on; name another page");
        return 2;
    }
    ReportInput input{options.title.empty() ? std::string("Profile desk records") : options.title,
                      options.dates,
                      {},
                      {},
                      {}};
    int status = 0;
    if (!options.fromDb.empty()) {
        auto opened = db::openOffice(options.fromDb, db::Access::read, db::OpenOptions{"--from-db"},
                                     [&console](const std::string& told) { tellError(console, told); });
        const Status counted =
            opened.isOk()
                ? countRecords(*opened.value(), db::RecordFilter{options.dates, options.everyRecord, false},
                               input.counts)
                : opened.status();
        if (!counted.isOk()) {
            return tellFailure(console, counted);
        }
        input.database = opened.value()->name();
    } else {
        ReportTally tally;
        ReportCounts looks;
        Progress progress(console.err, console.errIsTerminal, totalSize(options.desks));
        for (const DeskInput& desk : options.desks) {
            ReportListener listener(console, desk, options.dates, tally, progress, looks);
            ScanCounts counts;
            const Status read = scanDeskFile(desk, listener, counts, console.maxLineBytes,
                                             [&progress](std::size_t bytes) { progress.addBytes(bytes); });
            listener.endFile();
            if (counts.skipped) {
                continue;  // no desk's file, and told so
            }
            FileTally& file = input.files.emplace_back();
            file.desk = desk.name;
            file.path = desk.path;
            file.records = listener.kept;
            file.problems = counts.problems;
            if (!read.isOk()) {
                progress.finish();
                tellError(console, read.message());
                file.failure = read.message();
                status = 1;
            }
            if (counts.problems > 0) {
                status = 1;
            }
        }
        progress.finish();
        input.counts = tally.counts();
        input.counts.needingALook = looks.needingALook;
        input.counts.looks = std::move(looks.looks);
        input.counts.lookedAt = std::move(looks.lookedAt);
        for (const FileTally& file : input.files) {
            input.counts.desks[file.desk] += file.records;
        }
    }
    const std::string page = renderReportPage(input);
    if (options.output.empty()) {
        console.out << page;
        return tellIfOutputFailed(console) ? 1 : status;
    }
    OutputFile file(options.output);
    file.stream() << page;
    const Status written = file.opened().isOk() ? file.commit() : file.opened();
    if (!written.isOk()) {
        return tellFailure(console, written);
    }
    return status;
}

}  // namespace profiledesk::office
