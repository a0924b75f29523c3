#include <fnmatch.h>
#include <glob.h>

#include <filesystem>
#include <memory>

#include "office/desks/desk_input.hpp"

namespace profiledesk::office {

std::vector<std::string> expandPattern(const std::string& pattern) {
    glob_t found{};
    const std::unique_ptr<glob_t, decltype(&globfree)> freed(&found, &globfree);
    // GLOB_NOCHECK: a pattern that matches nothing stays, and is told as a file not there.
    if (::glob(pattern.c_str(), GLOB_NOCHECK, nullptr, &found) != 0) {
        return {pattern};
    }
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        paths.emplace_back(found.gl_pathv[i]);  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    return paths;
}

bool patternNames(const std::string& pattern, const std::string& path) {
    // Both made whole and plain first, as glob would reach them from here; its rules then: no
    // wildcard matches a '/' or a leading '.'.
    const auto whole = [](const std::string& text) {
        std::error_code ignored;
        return std::filesystem::absolute(text, ignored).lexically_normal().string();
    };
    return ::fnmatch(whole(pattern).c_str(), whole(path).c_str(), FNM_PATHNAME | FNM_PERIOD) == 0;
}

std::vector<std::string> expandArgument(const std::string& path) { return {path}; }

}  // namespace profiledesk::office
