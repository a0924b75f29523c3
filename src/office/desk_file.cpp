#include "office/desk_file.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace profiledesk::office {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { (void)std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kBufferSize = std::size_t{256} * 1024;

Status failure(const std::string& path, const std::string& reason) {
    return Status::failure(path + ": " + reason);
}

}  // namespace

Status scanDeskFile(const std::string& path, ScanListener& listener, ScanCounts& counts,
                    const ReadObserver& observer) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error) {
        return failure(path, error.message());
    }
    if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_fifo(status)) {
        return failure(path, std::filesystem::is_directory(status) ? "Is a directory" : "not a regular file");
    }
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return failure(path, std::strerror(errno));
    }
    // One buffer for the whole run, never cleared: only the bytes read are looked at.
    static std::array<char, kBufferSize> buffer;
    RecordScanner scanner(listener);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (got > 0) {
            scanner.feed(std::string_view(buffer.data(), got));
            if (observer) {
                observer(got);
            }
        }
        if (got < buffer.size()) {
            if (std::ferror(file.get()) != 0) {
                return failure(path, std::strerror(errno));
            }
            break;
        }
    }
    scanner.finish();
    counts.records = scanner.wholeRecords();
    counts.problems = scanner.problems();
    return Status::ok();
}

}  // namespace profiledesk::office
