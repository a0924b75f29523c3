#pragma once

// The desks a command reads: each file with the name of the desk it came from and the
// encoding its answers are written in. They come from the command line (FILE or NAME=PATH)
// or from a desks file (--desks).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.hpp"

namespace profiledesk::office {

struct DeskInput {
    std::string name;      // the records' source: the path as typed when no name is given
    std::string path;      // the record file
    std::string encoding;  // as knownEncoding() spells it; empty when not named (UTF-8)
    // One of the files a desks file's pattern matched: read only if it is a regular file. A
    // path named on its own is read whatever it is, a FIFO too, as a shell would.
    bool fromPattern = false;
    // The path as a desks file gives it, wildcards and all: a file made there later would be
    // read as this desk's.
    std::string pattern{};
};

// A FILE argument: NAME=PATH, or a PATH alone, which names itself. A NAME holds no '/'
// (nor '\' on Windows), so that a path with '=' in it is written ./a=b.dat.
// A failure is a usage error.
Result<DeskInput> deskFromArgument(std::string_view argument);

// The desks of a desks file, in its order, a pattern's files in the order of their names;
// paths are taken from the desks file's folder. A failure is a usage error of one line,
// FILE:LINE: what.
Result<std::vector<DeskInput>> readDesksFile(const std::string& file);

// The most a desks file may hold, and the most dots and brackets one of its lines may hold
// (see desk_input.cpp).
inline constexpr std::size_t kDesksFileMostBytes = std::size_t{1} << 20;
inline constexpr std::size_t kDesksLineMostLevels = 64;

// The desks that the text of the desks file `file` names, in its order, their paths taken
// from its folder and not yet expanded. A failure is as for readDesksFile.
Result<std::vector<DeskInput>> parseDesks(std::string_view text, const std::string& file);

// The files a desks file's path names: those its wildcards match (one source file per
// platform), or the path itself when it has none or none match.
std::vector<std::string> expandPattern(const std::string& pattern);

// Whether `path` is one that `pattern` (a desks file's path, with any wildcards) names, matched
// as the platform matches names (one source file per platform), whether or not it is there.
bool patternNames(const std::string& pattern, const std::string& path);

// The files a FILE argument's path names. A POSIX shell has expanded its wildcards already,
// so there it is the path itself; on Windows, where the program expands them, expandPattern.
std::vector<std::string> expandArgument(const std::string& path);

}  // namespace profiledesk::office
