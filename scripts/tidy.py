"""clang-tidy over every C++ source the Linux build compiles, and the ones it leaves out.

Usage: tidy.py BUILD_FOLDER [JOBS]

The build is a unity build, so its compile database names batch files that include several
sources each: linting a batch parses the heavy headers (CLI11, gtest, nlohmann-json) once for
all its sources instead of once each, which is most of clang-tidy's time. A tracked source
that no batch and no entry covers (the Windows files aside, checked by the mingw-w64 build,
and the stand-ins built only without libpq) is linted on its own, with a command inferred from
its neighbours. Prints what clang-tidy finds; exits 1 if it finds anything.
"""

import concurrent.futures
import json
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def tracked_sources():
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "src/*.cpp", "tests/*.cpp"],
                            check=True, capture_output=True, text=True).stdout
    return {os.path.join(ROOT, name) for name in listed.split("\0")
            if name and not name.endswith("_windows.cpp")}


def batch_members(path):
    with open(path, encoding="utf-8") as batch:
        return set(re.findall(r'^#include "([^"]+)"', batch.read(), re.MULTILINE))


def main():
    build = os.path.abspath(sys.argv[1])
    jobs = int(sys.argv[2]) if len(sys.argv) > 2 else os.cpu_count() or 1
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as database:
        entries = [os.path.join(entry["directory"], entry["file"]) for entry in json.load(database)]
    covered = set()
    for entry in entries:
        covered |= batch_members(entry) if "/Unity/unity_" in entry else {entry}
    alone = sorted(tracked_sources() - covered)

    def tidy(path):
        # A batch includes .cpp files by design, which that one check exists to flag.
        checks = ["--checks=-bugprone-suspicious-include"] if "/Unity/unity_" in path else []
        done = subprocess.run(["clang-tidy", "-p", build, "--quiet", *checks, path],
                              capture_output=True, text=True)
        return done.returncode, done.stdout

    failed = False
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for code, found in pool.map(tidy, sorted(entries) + alone):
            sys.stdout.write(found)
            failed = failed or code != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
