#include <string>

#include "common/output_watch.hpp"
#include "office/commands.hpp"
#include "office/io/desk_file.hpp"

namespace profiledesk::office {

namespace {

// Tells each problem as FILE:LINE: what is wrong.
class CheckListener final : public ScanListener {
public:
    CheckListener(std::ostream& out, const std::string& path) : out_(out), path_(path) {}

    void onRecord(const StoredRecord& /*record*/) override {}
    void onProblem(const ScanProblem& problem) override {
        tellProblem(out_, path_, problem.line, problem.what);
    }

private:
    std::ostream& out_;
    const std::string& path_;
};

}  // namespace

int runCheck(const std::vector<std::string>& files, Console& console) {
    int status = 0;
    for (const std::string& path : files) {
        CheckListener told(console.out, path);
        ScanCounts counts;
        const Status read = scanDeskFile(path, told, counts, console.maxLineBytes);
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
        tellError(console, outputFailure(console.out));
        return 1;
    }
    return status;
}

}  // namespace profiledesk::office
