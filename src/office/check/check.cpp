#include <string>

#include "common/output_watch.hpp"
#include "common/visible.hpp"
#include "office/commands.hpp"
#include "office/desks/desk_file.hpp"

namespace profiledesk::office {

namespace {

// Tells each problem as FILE:LINE: what is wrong.
class CheckListener final : public DeskListener {
public:
    CheckListener(ProblemTeller& teller, const std::string& path) : teller_(teller), path_(path) {}

    bool onRecord(const StoredRecord& /*record*/, std::string_view /*stored*/) override { return true; }
    void onProblem(const ScanProblem& problem) override {
        teller_.tell(path_, problem.line, problem.what, problem.kind);
    }

private:
    ProblemTeller& teller_;
    const std::string& path_;
};

}  // namespace

int runCheck(const std::vector<DeskInput>& desks, Streams& console) {
    int status = 0;
    ProblemTeller teller(console.out, console.allProblems);
    for (const DeskInput& desk : desks) {
        const std::string& path = desk.path;
        CheckListener told(teller, path);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, told, counts, console.maxLineBytes);
        teller.endFile(path);
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

}  // namespace profiledesk::office
