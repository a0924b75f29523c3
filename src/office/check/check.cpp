#include <string>

#include "office/commands.hpp"
#include "office/io/desk_file.hpp"

namespace profiledesk::office {

namespace {

// Tells each problem as FILE:LINE: what is wrong.
class CheckListener final : public DeskListener {
public:
    CheckListener(std::ostream& out, const std::string& path) : out_(out), path_(path) {}

    void onRecord(const StoredRecord& /*record*/, std::string_view /*stored*/) override {}
    void onProblem(const ScanProblem& problem) override {
        tellProblem(out_, path_, problem.line, problem.what);
    }

private:
    std::ostream& out_;
    const std::string& path_;
};

}  // namespace

int runCheck(const std::vector<DeskInput>& desks, Streams& console) {
    int status = 0;
    for (const DeskInput& desk : desks) {
        const std::string& path = desk.path;
        CheckListener told(console.out, path);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, told, counts);
        if (!read.isOk()) {
            console.out.flush();
            tellError(console, read.message());
            status = 1;
            continue;
        }
        console.out << path << ": " << counts.records << " whole records";
        if (desk.name != path) {
            console.out << " (desk " << desk.name << ")";
        }
        console.out << '\n';
        if (counts.problems > 0) {
            status = 1;
        }
    }
    return tellIfOutputFailed(console) ? 1 : status;
}

}  // namespace profiledesk::office
