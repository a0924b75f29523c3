#pragma once

// Opening the view in the user's browser, where the platform has a default one to ask for.

#include <string>

namespace profiledesk::office::serve {

// Opens `address` in the default browser, without waiting for it: on Windows, where the clerk
// started the view from a shortcut or a console; elsewhere nothing, the printed address serves.
// Whether it asked for one.
bool openInBrowser(const std::string& address);

}  // namespace profiledesk::office::serve
