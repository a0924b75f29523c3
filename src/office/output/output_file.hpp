#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "common/status.hpp"

namespace profiledesk::office {

class RemoveOnSignal;

// Where -o writes, according to what is there:
// - a regular file (or a symbolic link to one, which is followed) is replaced only when the
//   new one is whole: it is written beside its place, synced, and renamed onto it, keeping
//   the old file's mode, owner and group where allowed. A failure, or Ctrl+C, SIGTERM or
//   SIGHUP, leaves the old file as it was and removes what was written;
// - nothing yet: the same, and the new file gets mode 0666 less the umask;
// - a device, a FIFO, or a name for a descriptor (/dev/stdout, /dev/fd/N, /proc/...):
//   written straight to, at its end;
// - a folder: refused, as a usage error.
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
    std::string target_;   // the regular file replaced, symbolic links followed
    std::string partial_;  // empty when written straight
    std::ofstream file_;
    std::unique_ptr<RemoveOnSignal> removeOnSignal_;
    Status opened_ = Status::ok();
    bool committed_ = false;
};

}  // namespace profiledesk::office
