"""Where this machine keeps what the tests borrow from it, looked up once for every test:
libfaketime, PostgreSQL's server programs, a scratch folder that other users can enter, and
a path to a preload library that LD_PRELOAD can hold.

Run as a script it prints one of them for shell tests: machine.py faketime|postgres-bin
"""

import atexit
import glob
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import unittest


def faketime_lib():
    """libfaketime's preload library: PROFILEDESK_FAKETIME_LIB, else this architecture's copy."""
    chosen = os.environ.get("PROFILEDESK_FAKETIME_LIB")
    if chosen:
        return chosen
    arch = sysconfig.get_config_var("MULTIARCH") or ""
    candidates = [os.path.join("/usr/lib", arch, "faketime/libfaketime.so.1")] if arch else []
    candidates += sorted(glob.glob("/usr/lib*/faketime/libfaketime.so.1") +
                         glob.glob("/usr/lib*/*/faketime/libfaketime.so.1"))
    for path in candidates:
        if os.path.exists(path):
            return path
    raise FileNotFoundError("libfaketime.so.1 not found (install libfaketime or set PROFILEDESK_FAKETIME_LIB)")


def postgres_bin():
    """The folder of initdb and pg_ctl: pg_config's answer, else the newest version installed."""
    candidates = []
    if shutil.which("pg_config"):
        asked = subprocess.run(["pg_config", "--bindir"], capture_output=True, text=True, timeout=30, check=False)
        candidates.append(asked.stdout.strip())

    def version(folder):
        name = folder.split(os.sep)[-2]
        return [int(part) if part.isdigit() else 0 for part in name.split(".")]
    candidates += sorted(glob.glob("/usr/lib/postgresql/*/bin"), key=version, reverse=True)
    for folder in candidates:
        if folder and os.access(os.path.join(folder, "initdb"), os.X_OK):
            return folder
    raise FileNotFoundError("no PostgreSQL server programs (initdb) found; install postgresql")


def shared_folder(prefix):
    """A new folder under /tmp that any user can enter, whatever folder the suite runs from
    (a checkout in a 0700 home folder cannot be reached by another user). The caller removes it."""
    folder = tempfile.mkdtemp(prefix=prefix, dir="/tmp")
    os.chmod(folder, 0o755)
    return folder


def root_only(case):
    """A case that switches to an unprivileged user. It runs in a ctest test of its own, through
    tests/support/root_only.sh, which ctest reports as skipped when the suite is not root; the
    suite's ordinary run leaves it to that test."""
    return unittest.skipUnless(os.environ.get("PROFILEDESK_ROOT_CASES") == "1",
                               "runs in its own test (root_only.sh), as it needs root")(case)


def preloadable(library):
    """`library` as LD_PRELOAD can name it. The loader splits that list at spaces and colons,
    with no escape, so a library built in a checkout whose path holds one is named through a
    link in a folder of its own under /tmp, removed when the test program ends."""
    if not any(separator in library for separator in " :"):
        return library
    folder = tempfile.mkdtemp(prefix="profiledesk-preload.", dir="/tmp")
    atexit.register(shutil.rmtree, folder, True)
    link = os.path.join(folder, os.path.basename(library))
    os.symlink(os.path.abspath(library), link)
    return link


if __name__ == "__main__":
    what = sys.argv[1] if len(sys.argv) == 2 else ""
    lookups = {"faketime": faketime_lib, "postgres-bin": postgres_bin}
    if what not in lookups:
        sys.exit("usage: machine.py faketime|postgres-bin")
    try:
        print(lookups[what]())
    except FileNotFoundError as error:
        sys.exit(f"machine.py: {error}")
