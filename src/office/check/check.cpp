#include <string>

#include "common/output_watch.hpp"
#include "common/visible.hpp"
#include "office/commands.hpp"
#include "office/db/migrate.hpp"
#include "office/db/records_read.hpp"
#include "office/db/schema.hpp"
#include "office/desks/desk_file.hpp"
#include "office/quality.hpp"

namespace profiledesk::office {

namespace {

// Tells each problem as FILE:LINE: what is wrong, and each record that needs a look with its
// key, so that a clerk can name it to the other commands.
class CheckListener final : public DeskListener {
public:
    CheckListener(ProblemTeller& teller, ProblemTeller& looks, const std::string& path)
        : teller_(teller), looks_(looks), path_(path) {}

    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        const std::vector<Finding> findings = lookAt(record, false);
        if (!findings.empty()) {
            // A key only for a record told in full: those of every earlier record of its content,
            // which needed a look too and came first, were counted, and no others are wanted. On
            // a file where every record needs a look, counting them all took 45 MB a GiB.
            const std::string_view kind = findings.front().rule;
            looks_.tell(path_, record.firstLine,
                        looks_.toldInFull(kind) ? "needs a look (" + keys_.keyOf(contentHash(stored)) +
                                                      "): " + findingsText(lookAt(record))
                                                : std::string(),
                        kind);
        }
        return true;
    }
    void onProblem(const ScanProblem& problem) override {
        teller_.tell(path_, problem.line, problem.what, problem.kind);
    }

private:
    ProblemTeller& teller_;
    ProblemTeller& looks_;
    const std::string& path_;
    KeyCounter keys_;
};

}  // namespace

int runCheck(const std::vector<DeskInput>& desks, Streams& console) {
    int status = 0;
    ProblemTeller teller(console.out, console.allProblems);
    ProblemTeller looks(console.out, console.allProblems);
    for (const DeskInput& desk : desks) {
        const std::string& path = desk.path;
        CheckListener told(teller, looks, path);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, told, counts, console.maxLineBytes);
        teller.endFile(path);
        looks.endFile(path);
        if (!read.isOk()) {
            console.out.flush();
            tellError(console, read.message());
            status = 1;
            continue;
        }
        if (counts.skipped) {
            continue;
        }
        console.out << visibleText(path) << ": " << counts.records
                    << (counts.records == 1 ? " whole record" : " whole records");
        if (desk.name != path) {
            console.out << " (desk " << visibleText(desk.name) << ")";
        }
        console.out << '\n';
        if (counts.problems > 0) {
            status = 1;
        }
    }
    return tellIfOutputFailed(console) ? 1 : status;
}

int runCheckDatabase(const std::string& database, Streams& console) {
    auto opened = db::openOffice(database, db::Access::read, db::OpenOptions{"--from-db"},
                                 [&console](const std::string& told) { tellError(console, told); });
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    db::Database& db = *opened.value();
    std::vector<std::string> texts;
    const std::string where = db::recordsWhere(db.dialect(), db::RecordFilter{}, texts);
    Status status = db.beginRead();
    // Each desk's current records, then those that need a look, desk by desk in file order.
    status =
        status.isOk()
            ? db.run(db::sqlOf({"SELECT source, count(*), sum(CASE WHEN looks <> '' THEN 1 ELSE 0 END) FROM ",
                                db::kRecordsTable, where, " GROUP BY source ORDER BY source",
                                db.dialect().bytesOrder}),
                     {},
                     [&console](const db::Row& row) {
                         const std::int64_t records = row.integer(1);
                         const std::int64_t looks = row.integer(2);
                         console.out << visibleText(row.text(0)) << ": " << records
                                     << (records == 1 ? " record" : " records");
                         if (looks > 0) {
                             console.out << ", " << looks << (looks == 1 ? " needs" : " need") << " a look";
                         }
                         console.out << '\n';
                         return true;
                     })
            : status;
    ProblemTeller looks(console.out, console.allProblems);
    std::string desk;
    status =
        status.isOk()
            ? db.run(db::sqlOf({"SELECT ", db::valueColumns(), ", record_key FROM ", db::kRecordsTable, where,
                                " AND looks <> '' ORDER BY source", db.dialect().bytesOrder, ", record"}),
                     {},
                     [&](const db::Row& row) {
                         std::array<std::string_view, kColumnCount> values{};
                         for (std::size_t i = 0; i < kColumnCount; ++i) {
                             values.at(i) = row.text(i);
                         }
                         if (desk != values.at(0)) {
                             looks.endFile(desk);
                             desk.assign(values.at(0));
                         }
                         const std::vector<Finding> findings = lookAt(values);
                         if (!findings.empty()) {
                             looks.tell(desk, static_cast<std::size_t>(row.integer(2)),
                                        "needs a look (" + std::string(row.text(kColumnCount)) +
                                            "): " + findingsText(findings),
                                        findings.front().rule);
                         }
                         return true;
                     })
            : status;
    looks.endFile(desk);
    db.rollback();  // the read ends
    if (!status.isOk()) {
        console.out.flush();
        return tellFailure(console, status);
    }
    return tellIfOutputFailed(console) ? 1 : 0;
}

}  // namespace profiledesk::office
