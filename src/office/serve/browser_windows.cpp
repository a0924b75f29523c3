#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

#include "common/native_path.hpp"
#include "office/serve/browser.hpp"

namespace profiledesk::office::serve {

bool openInBrowser(const std::string& address) {
    const std::wstring wide = wideOf(address);
    // Above 32 is success, as ShellExecute has always said it.
    return reinterpret_cast<INT_PTR>(
               ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

}  // namespace profiledesk::office::serve
