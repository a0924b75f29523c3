// Folding with Windows' own tables: NormalizeString to NFKC, then LCMapStringEx to lower case
// with the invariant locale's linguistic casing, which makes İ a plain i.

#include <windows.h>

#include <string>

#include "office/find/fold.hpp"

namespace profiledesk::office {

namespace {

// Calls `map` once for the size and once to write; the input when either fails.
template <typename Map>
std::wstring mapped(const std::wstring& wide, Map map) {
    const int size = static_cast<int>(wide.size());
    int length = map(wide.data(), size, nullptr, 0);
    if (length <= 0) {
        return wide;
    }
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    length = map(wide.data(), size, out.data(), length);
    if (length <= 0) {
        return wide;
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace

std::string foldCase(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    // Bytes that are not UTF-8 become U+FFFD.
    const int size = static_cast<int>(text.size());
    std::wstring wide(
        static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    (void)::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    wide = mapped(wide, [](const wchar_t* from, int length, wchar_t* to, int room) {
        return ::NormalizeString(NormalizationKC, from, length, to, room);
    });
    wide = mapped(wide, [](const wchar_t* from, int length, wchar_t* to, int room) {
        return ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, from, length,
                               to, room, nullptr, nullptr, 0);
    });
    const int wideSize = static_cast<int>(wide.size());
    std::string folded(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize,
                                                                      nullptr, 0, nullptr, nullptr)),
                       '\0');
    (void)::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, folded.data(),
                                static_cast<int>(folded.size()), nullptr, nullptr);
    return folded;
}

}  // namespace profiledesk::office
