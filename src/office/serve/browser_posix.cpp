#include "office/serve/browser.hpp"

namespace profiledesk::office::serve {

bool openInBrowser(const std::string& /*address*/) { return false; }

}  // namespace profiledesk::office::serve
