#include "office/commands.hpp"

#include <algorithm>
#include <functional>
#include <string>

#include "common/output_watch.hpp"
#include "common/visible.hpp"

namespace profiledesk::office {

namespace {

// The whole line in one write: stderr is unbuffered, and two runs sharing it would otherwise
// splice their lines.
void writeLine(std::ostream& out, const std::string& line) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace

void tellProblem(std::ostream& out, std::string_view file, std::size_t line, std::string_view what) {
    std::string text = visibleText(file);
    if (line > 0) {
        text.append(":").append(std::to_string(line));
    }
    text.append(": ").append(visibleText(what)).append("\n");
    writeLine(out, text);
}

void ProblemTeller::tell(std::string_view file, std::size_t line, std::string_view what,
                         std::string_view kind) {
    const std::string_view sort = kind.empty() ? what : kind;
    auto found =
        std::find_if(kinds_.begin(), kinds_.end(), [sort](const auto& told) { return told.first == sort; });
    if (found == kinds_.end()) {
        found = kinds_.emplace(kinds_.end(), std::string(sort), 0);
    }
    if (all_ || ++found->second <= kProblemsInFull) {
        tellProblem(out_, file, line, what);
    }
}

bool ProblemTeller::toldInFull(std::string_view kind) const {
    const auto found =
        std::find_if(kinds_.begin(), kinds_.end(), [kind](const auto& told) { return told.first == kind; });
    return all_ || found == kinds_.end() || found->second < kProblemsInFull;
}

void ProblemTeller::endFile(std::string_view file) {
    for (const auto& [kind, count] : kinds_) {
        if (count > kProblemsInFull) {
            tellProblem(out_, file, 0,
                        std::to_string(count - kProblemsInFull) + " more of this kind: " + kind +
                            " (--all-problems lists them all)");
        }
    }
    kinds_.clear();
}

std::size_t lineOf(const StoredRecord& record, std::string_view value) {
    const std::string_view text = record.text;
    if (std::less<>()(value.data(), text.data()) || std::less<>()(text.data() + text.size(), value.data())) {
        return 0;  // not the record's own: the whole file is concerned
    }
    const auto before = static_cast<std::ptrdiff_t>(value.data() - text.data());
    return record.firstLine +
           static_cast<std::size_t>(std::count(record.text.begin(), record.text.begin() + before, '\n'));
}

void tellError(Streams& console, const std::string& message) {
    writeLine(console.err, "profiledesk-records: " + visibleText(message) + "\n");
}

int exitStatus(const Status& status) {
    if (status.isOk()) {
        return 0;
    }
    return status.isUsage() ? 2 : 1;
}

int tellFailure(Streams& console, const Status& status) {
    if (!status.isOk()) {
        tellError(console, status);
    }
    return exitStatus(status);
}

bool tellIfOutputFailed(Streams& console) {
    console.out.flush();
    if (console.out) {
        return false;
    }
    tellError(console, outputFailure(console.out));
    return true;
}

}  // namespace profiledesk::office
