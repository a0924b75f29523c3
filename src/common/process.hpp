#pragma once

// The process and its standard streams as the platform gives them, the same for both
// programs. One source file per platform implements this header; only the entry points
// call it.

#include <string>
#include <vector>

namespace profiledesk::process {

// How standard output and error take line ends. The desk writes text, whose '\n' becomes
// the platform's line end; the records tool writes bytes as they are, its CSV ending its
// lines in CRLF itself, and every other line of either stream in LF, as on other systems.
enum class Output { text, bytes };

// Settings the whole run relies on, made before anything else happens.
void prepare(Output output);

// The command line, each argument in UTF-8. Windows hands main() its arguments in the ANSI
// code page, which cannot hold every name, so there they are read again as UTF-16.
std::vector<std::string> arguments(int argc, char** argv);

// A reader of standard output that goes away (`| head`, `| true`) makes writes fail, to be
// told, rather than end the run: the desk saves its record whatever its reader does.
void keepRunningWhenOutputCloses();

// Whether standard output or standard error is a terminal (a console on Windows).
bool outputIsTerminal();
bool errorIsTerminal();

// The name the user logged in with, for a record of who did what; empty where there is none.
std::string loginName();

// Whether standard output is the file `path` names (the same file by another name too), as
// `cat` asks before it reads a file into itself: a run would then write into its own input.
bool outputIsFile(const std::string& path);

}  // namespace profiledesk::process
