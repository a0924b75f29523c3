#pragma once

// The process and its standard streams as the platform gives them, the same for both
// programs. One source file per platform implements this header; only the entry points
// call it.

namespace profiledesk::process {

// How standard output takes line ends. The desk writes text, whose '\n' becomes the
// platform's line end; the records tool writes bytes as they are, its CSV ending its lines
// in CRLF itself.
enum class Output { text, bytes };

// Settings the whole run relies on, made before anything else happens.
void prepare(Output output);

// A reader of standard output that goes away (`| head`, `| true`) makes writes fail, to be
// told, rather than end the run: the desk saves its record whatever its reader does.
void keepRunningWhenOutputCloses();

// Whether standard output or standard error is a terminal (a console on Windows).
bool outputIsTerminal();
bool errorIsTerminal();

}  // namespace profiledesk::process
