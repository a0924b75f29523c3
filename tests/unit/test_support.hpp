#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "record/candidate_record.hpp"
#include "run/flows.hpp"
#include "run/session.hpp"

namespace profiledesk::testing {

// A folder of its own for each test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "profiledesk-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline ClockSnapshot sixthOfDecember() {
    return ClockSnapshot{
        .dayOfMonth = 6, .month = 11, .year = 2026, .timeText = "The Time Now Is :: 03:53PM."};
}

// A record with a name, a date of birth, an age, the years ahead and a fee; the rest empty.
inline CandidateRecord sampleRecord() {
    CandidateRecord record;
    record.firstName = "John";
    record.surname = "Doe";
    record.dateOfBirth = "12-03-1990";
    record.ageText = "36";
    record.ageValue = 30;
    record.yearsAhead = 5;
    record.libraryFee = "1500";
    return record;
}

// One whole run on in-memory streams and a record file in a scratch folder.
struct ScriptedRun {
    explicit ScriptedRun(const std::string& typed) : in(typed) {}

    int run() {
        RunContext context{.in = in,
                           .out = out,
                           .err = err,
                           .clock = sixthOfDecember(),
                           .recordFile = folder.file("datas.dat"),
                           .outputDescriptor = -1,
                           .outputIsTerminal = false,
                           .record = {}};
        const int status = runSession(context, [this] { ++keyWaits; });
        record = context.record;
        return status;
    }

    [[nodiscard]] std::string stored() const { return readFile(folder.file("datas.dat")); }

    ScratchFolder folder;
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    CandidateRecord record;
    int keyWaits = 0;
};

}  // namespace profiledesk::testing
