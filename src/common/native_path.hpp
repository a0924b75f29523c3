#pragma once

// Paths are held as UTF-8 throughout the program. The system's file calls take them here:
// on Windows as UTF-16, so that names outside the ANSI code page open; elsewhere as the
// bytes they are. Every file the program opens goes through this.

#include <filesystem>
#include <string>
#include <string_view>

namespace profiledesk {

// The path for the system's file calls.
std::filesystem::path nativePath(std::string_view utf8);

// A path the system gave back, in UTF-8.
std::string utf8Path(const std::filesystem::path& path);

#ifdef _WIN32
// UTF-8 to UTF-16 and back; bytes that are not UTF-8 become U+FFFD, as the system does.
std::wstring wideOf(std::string_view utf8);
std::string utf8Of(std::wstring_view wide);
#endif

}  // namespace profiledesk
