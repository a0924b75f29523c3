// Feeds arbitrary bytes as the typed input of one whole run, on in-memory streams and a
// record file of its own, and checks what every run must do whatever was typed: end with
// the closing lines, add exactly one whole record when data entry ran, nothing otherwise, and
// say nothing on the error stream but that the answers ended early, when they did.

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "run/session.hpp"

namespace {

constexpr const char* kEarlier = "an earlier line\n";
constexpr const char* kClosing = " \n ........> Kindly Press Any Key To Continue <........ \n";

std::string recordFilePath() {
    // An anonymous in-memory file, reached by path through /proc: syncing each record costs
    // nothing, and the file goes with the process however the run ends, crashes included.
    const int fd = memfd_create("profiledesk-fuzz-records", 0);
    if (fd < 0) {
        std::abort();
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string recordFile = recordFilePath();
    std::ofstream(recordFile, std::ios::binary | std::ios::trunc) << kEarlier;

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    std::ostringstream err;
    profiledesk::RunContext run{.in = in,
                                .out = out,
                                .err = err,
                                .clock = profiledesk::fallbackSnapshot(),
                                .recordFile = recordFile,
                                .outputDescriptor = -1,
                                .outputIsTerminal = false,
                                .record = {}};
    int keyWaits = 0;
    const int status = profiledesk::runSession(run, [&keyWaits] { ++keyWaits; });

    const std::string shown = out.str();
    require(status == 0);
    require(keyWaits == 1);
    require(shown.ends_with(kClosing));
    // An answer is one word and cannot hold this heading's blanks, so it shows data entry ran.
    const bool entered = shown.find("\n ---->  Inputed(Received) Data(s)\n") != std::string::npos;
    // Nothing on the error stream but, after data entry whose input ended early, the one notice.
    const std::string told = err.str();
    require(told.empty() || (entered && told.starts_with("profiledesk: the answers ended after ") &&
                             told.ends_with(" of 17; the record was saved with the rest empty\n") &&
                             std::count(told.begin(), told.end(), '\n') == 1));
    const std::string stored = readAll(recordFile);
    require(stored.starts_with(kEarlier));
    const std::string added = stored.substr(std::string(kEarlier).size());
    const auto addedLines = std::count(added.begin(), added.end(), '\n');
    require(entered
                ? addedLines == 30 && added.ends_with("<------------------------------------------------\n")
                : added.empty());
    return 0;
}
