#include <io.h>

#include <cstdio>

#include "office/platform.hpp"

namespace profiledesk::office::platform {

void prepareProcess() {}

bool errorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace profiledesk::office::platform
