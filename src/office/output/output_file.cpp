#include "office/output/output_file.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/native_path.hpp"
#include "office/output/signal_cleanup.hpp"
#include "record/record_layout.hpp"
#include "store/record_file.hpp"

namespace profiledesk::office {

namespace {

namespace fs = std::filesystem;

enum class PlaceKind { missing, regular, folder, straight };

struct Place {
    PlaceKind kind = PlaceKind::missing;
    fs::path target;  // for a regular or missing file: where it is, links followed
};

// Names for descriptors the process already has (/dev/stdout is a link to /proc/self/fd/1):
// written to, never replaced, even when they lead to a regular file.
bool isDescriptorName(const fs::path& path) {
    const std::string text = utf8Path(path);
    return text == "/dev/stdout" || text == "/dev/stderr" || text.starts_with("/dev/fd/") ||
           text.starts_with("/proc/");
}

Place findPlace(const std::string& path) {
    constexpr int kMostLinks = 40;  // as the kernel allows, so that a loop ends
    fs::path at = nativePath(path);
    std::error_code error;
    for (int hop = 0; hop < kMostLinks; ++hop) {
        if (isDescriptorName(at)) {
            return {PlaceKind::straight, at};
        }
        if (!fs::is_symlink(fs::symlink_status(at, error))) {
            break;
        }
        const fs::path to = fs::read_symlink(at, error);
        if (error) {
            break;
        }
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    const fs::file_status status = fs::status(at, error);
    switch (status.type()) {
        case fs::file_type::not_found: return {PlaceKind::missing, at};
        case fs::file_type::regular: return {PlaceKind::regular, at};
        case fs::file_type::directory: return {PlaceKind::folder, at};
        // What cannot be looked at is opened as it is, and the opening tells why not.
        default: return {PlaceKind::straight, at};
    }
}

// What a file that -o would replace holds, where it is the office's own data that an output
// must never take the place of: a SQLite database, or a desk's records (a file whose first
// line is a record's first line). Empty for anything else.
std::string irreplaceable(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string first(4096, '\0');
    in.read(first.data(), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<std::size_t>(in.gcount()));
    if (first.starts_with(std::string_view("SQLite format 3\0", 16))) {
        return "is a SQLite database";
    }
    if (first.starts_with("\xEF\xBB\xBF")) {
        first.erase(0, 3);  // a desk's file saved by Notepad
    }
    first.resize(std::min(first.find_first_of("\r\n"), first.size()));
    FieldSpans spans{};
    // The plain matcher: one line, read once.
    return matchRecordLineByTrying(0, first, 0, spans) ? "holds a desk's records" : "";
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    const Place place = findPlace(path_);
    if (place.kind == PlaceKind::folder) {
        opened_ = Status::usage(path_ + ": is a folder; name a file to write");
        return;
    }
    if (place.kind == PlaceKind::regular) {
        if (const std::string holds = irreplaceable(place.target); !holds.empty()) {
            opened_ =
                Status::usage(path_ + ": " + holds + ", which an output never replaces; name another file");
            return;
        }
    }
    if (place.kind == PlaceKind::straight) {
        // Appending: standard output opened as `>> file` keeps what it holds.
        file_.open(nativePath(path_), std::ios::binary | std::ios::app);
        if (!file_) {
            opened_ = Status::failure(path_ + ": " + std::strerror(errno));
        }
        return;
    }
    target_ = utf8Path(place.target);
    std::random_device random;
    std::array<char, 32> suffix{};
    (void)std::snprintf(suffix.data(), suffix.size(), ".partial-%08x%08x", random(), random());
    // Personal data: only the owner may read what replaces a file until it has that file's mode.
    const Status created = createEmpty(target_ + suffix.data(), place.kind == PlaceKind::regular);
    if (!created.isOk() && created.code() != Status::Code::notFound) {
        // The new file is made beside the output: it is the folder that refuses it (read-only,
        // or not the user's), whatever the output itself would allow.
        const fs::path folder = nativePath(target_).parent_path();
        opened_ =
            Status::failure(created.code(), (folder.empty() ? std::string(".") : utf8Path(folder)) + ": " +
                                                created.reason() + " (the folder of " + path_ + ")");
        return;
    }
    if (!created.isOk()) {
        opened_ = Status::failure(created.code(), path_ + ": " + created.reason());
        return;
    }
    partial_ = target_ + suffix.data();
    removeOnSignal_ = std::make_unique<RemoveOnSignal>(partial_);
    file_.open(nativePath(partial_), std::ios::binary | std::ios::trunc);
    if (!file_) {
        opened_ = Status::failure(path_ + ": " + std::strerror(errno));
    }
}

OutputFile::~OutputFile() {
    if (!committed_ && !partial_.empty()) {
        file_.close();
        std::error_code ignored;
        fs::remove(nativePath(partial_), ignored);
    }
}

Status OutputFile::commit() {
    file_.close();
    if (!file_) {
        return Status::failure(path_ + ": " + std::strerror(errno));
    }
    if (partial_.empty()) {
        return Status::ok();
    }
    const Status replaced = replaceDurably(partial_, target_);
    if (!replaced.isOk()) {
        return Status::failure(replaced.code(), path_ + ": " + replaced.reason());
    }
    committed_ = true;
    removeOnSignal_.reset();
    return Status::ok();
}

}  // namespace profiledesk::office
