#pragma once

#include <fstream>
#include <string>

#include "common/status.hpp"

namespace profiledesk::office {

// An output file written beside its place and renamed onto it only when whole, so that a
// reader sees the old file or the whole new one, and a failure leaves no part of either.
// What was written is removed unless committed.
class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&&) = delete;
    OutputFile& operator=(OutputFile&&) = delete;

    // Where to write; a failure to open it shows as a failed stream.
    std::ostream& stream() { return file_; }
    // Why the file could not be opened, or ok.
    [[nodiscard]] Status opened() const { return opened_; }
    // Closes the file and puts it in its place. A failure names the output and the reason.
    Status commit();

private:
    std::string path_;
    std::string partial_;
    std::ofstream file_;
    Status opened_ = Status::ok();
    bool committed_ = false;
};

}  // namespace profiledesk::office
