#pragma once

// The process and console as the platform gives them. One source file per platform
// implements this header; only the entry point calls it.

#include <string>
#include <vector>

namespace profiledesk::office::platform {

// The command line, each argument in UTF-8. Windows hands main() its arguments in the ANSI
// code page, which cannot hold every name, so there they are read again as UTF-16.
std::vector<std::string> arguments(int argc, char** argv);

// Settings the whole run relies on, made before anything else happens.
void prepareProcess();

// Whether standard error is a terminal (a console on Windows): progress is shown only there.
bool errorIsTerminal();

}  // namespace profiledesk::office::platform
