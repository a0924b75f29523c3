#include <string>

#include "office/commands.hpp"
#include "office/io/desk_file.hpp"

namespace profiledesk::office {

namespace {

// Tells each problem as FILE:LINE: what is wrong.
class CheckListener final : public ScanListener {
public:
    CheckListener(ProblemTeller& teller, const std::string& path) : teller_(teller), path_(path) {}

    void onRecord(const StoredRecord& /*record*/) override {}
    void onProblem(const ScanProblem& problem) override {
        teller_.tell(path_, problem.line, problem.what, problem.kind);
    }

private:
    ProblemTeller& teller_;
    const std::string& path_;
};

}  // namespace

int runCheck(const std::vector<std::string>& files, Console& console) {
    int status = 0;
    ProblemTeller teller(console.out, console.allProblems);
    for (const std::string& path : files) {
        CheckListener told(teller, path);
        ScanCounts counts;
        const Status read = scanDeskFile(path, told, counts);
        teller.endFile(path);
        if (!read.isOk()) {
            console.out.flush();
            tellError(console, read.message());
            status = 1;
            continue;
        }
        console.out << path << ": " << counts.records << " whole records\n";
        if (counts.problems > 0) {
            status = 1;
        }
    }
    console.out.flush();
    if (!console.out) {
        tellError(console, "could not write to standard output");
        return 1;
    }
    return status;
}

}  // namespace profiledesk::office
