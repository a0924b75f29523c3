#pragma once

// The process and console as the platform gives them. One source file per platform
// implements this header; only the entry point calls it.

namespace profiledesk::office::platform {

// Settings the whole run relies on, made before anything else happens.
void prepareProcess();

// Whether standard error is a terminal (a console on Windows): progress is shown only there.
bool errorIsTerminal();

}  // namespace profiledesk::office::platform
