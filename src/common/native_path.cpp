#include "common/native_path.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace profiledesk {

#ifdef _WIN32

std::wstring wideOf(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    (void)::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string utf8Of(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    (void)::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::filesystem::path nativePath(std::string_view utf8) { return {wideOf(utf8)}; }

std::string utf8Path(const std::filesystem::path& path) { return utf8Of(path.native()); }

#else

std::filesystem::path nativePath(std::string_view utf8) { return {std::string(utf8)}; }

std::string utf8Path(const std::filesystem::path& path) { return path.native(); }

#endif

}  // namespace profiledesk
