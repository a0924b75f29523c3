#include "office/io/output_file.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "common/native_path.hpp"

namespace profiledesk::office {

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    std::random_device random;
    std::array<char, 32> suffix{};
    (void)std::snprintf(suffix.data(), suffix.size(), ".partial-%08x%08x", random(), random());
    partial_ = path_ + suffix.data();
    std::error_code ignored;
    if (std::filesystem::is_directory(nativePath(path_), ignored)) {
        // Said before anything is written; renaming onto it would fail, on Windows as
        // "Access is denied".
        opened_ = Status::failure(path_ + ": " + std::strerror(EISDIR));
        return;
    }
    file_.open(nativePath(partial_), std::ios::binary | std::ios::trunc);
    if (!file_) {
        opened_ = Status::failure(path_ + ": " + std::strerror(errno));
    }
}

OutputFile::~OutputFile() {
    if (!committed_) {
        file_.close();
        std::error_code ignored;
        std::filesystem::remove(nativePath(partial_), ignored);
    }
}

Status OutputFile::commit() {
    file_.close();
    if (!file_) {
        return Status::failure(path_ + ": " + std::strerror(errno));
    }
    std::error_code error;
    std::filesystem::rename(nativePath(partial_), nativePath(path_), error);
    if (error) {
        return Status::failure(path_ + ": " + error.message());
    }
    committed_ = true;
    return Status::ok();
}

}  // namespace profiledesk::office
