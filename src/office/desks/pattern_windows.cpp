#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string_view>

#include "common/native_path.hpp"
#include "office/desks/desk_input.hpp"

namespace profiledesk::office {

namespace {

constexpr std::string_view kSeparators = "/\\";

bool hasWildcards(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

struct FindClose {
    void operator()(HANDLE search) const { (void)::FindClose(search); }
};

// The names in `folder` (empty, or ending in a separator) that `wildcards` matches, the
// folders alone when `foldersOnly`.
std::vector<std::string> matchesIn(const std::string& folder, std::string_view wildcards, bool foldersOnly) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = wideOf(folder + std::string(wildcards));
    HANDLE raw =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (raw == INVALID_HANDLE_VALUE) {
        return names;
    }
    const std::unique_ptr<void, FindClose> search(raw);
    do {
        const std::wstring_view name(static_cast<const wchar_t*>(found.cFileName));
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name != L"." && name != L".." && (isFolder || !foldersOnly)) {
            names.push_back(utf8Of(name));
        }
    } while (::FindNextFileW(search.get(), &found) != 0);
    return names;
}

}  // namespace

// cmd and PowerShell pass wildcards on as typed, so they are expanded here, a part of the
// path at a time: FindFirstFile matches wildcards in the last part only.
std::vector<std::string> expandPattern(const std::string& pattern) {
    if (!hasWildcards(pattern)) {
        return {pattern};
    }
    std::vector<std::string> paths{""};
    std::size_t start = 0;
    while (start < pattern.size() && !paths.empty()) {
        const std::size_t end = std::min(pattern.find_first_of(kSeparators, start), pattern.size());
        const std::string_view part = std::string_view(pattern).substr(start, end - start);
        const std::string_view separator =
            std::string_view(pattern).substr(end, end < pattern.size() ? 1 : 0);
        std::vector<std::string> next;
        for (const std::string& path : paths) {
            if (!hasWildcards(part)) {
                next.push_back(path + std::string(part) + std::string(separator));
                continue;
            }
            const std::vector<std::string> names = matchesIn(path, part, !separator.empty());
            std::transform(names.begin(), names.end(), std::back_inserter(next),
                           [&](const std::string& name) { return path + name + std::string(separator); });
        }
        paths = std::move(next);
        start = end + 1;
    }
    if (paths.empty()) {
        return {pattern};  // told as a file not there, as any other path
    }
    // In the order Windows shows names in: case does not count.
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return ::CompareStringOrdinal(wideOf(a).c_str(), -1, wideOf(b).c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return paths;
}

bool patternNames(const std::string& pattern, const std::string& path) {
    // Both made whole and plain, then matched a part at a time by the shell's own matching,
    // as FindFirstFile expands a part: no wildcard matches a separator.
    const auto parts = [](const std::string& text) {
        std::vector<std::wstring> split;
        std::error_code ignored;
        const std::filesystem::path whole =
            std::filesystem::absolute(nativePath(text), ignored).lexically_normal();
        std::transform(whole.begin(), whole.end(), std::back_inserter(split),
                       [](const std::filesystem::path& part) { return part.wstring(); });
        return split;
    };
    const std::vector<std::wstring> wanted = parts(pattern);
    const std::vector<std::wstring> given = parts(path);
    return wanted.size() == given.size() &&
           std::equal(wanted.begin(), wanted.end(), given.begin(),
                      [](const std::wstring& part, const std::wstring& name) {
                          return ::PathMatchSpecExW(name.c_str(), part.c_str(), PMSF_NORMAL) == S_OK;
                      });
}

std::vector<std::string> expandArgument(const std::string& path) { return expandPattern(path); }

}  // namespace profiledesk::office
