"""Benchmarks of the desk program's own work, besides its listing (which office_bench.py times
on every record file): each a ratio against a reference measured side by side.

Usage: run_bench.py PROGRAM WORK_FOLDER [--quick]
"""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing left beside the sources
import harness  # noqa: E402

PROGRAM = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2])
SETTINGS = harness.Settings("--quick" in sys.argv)
LONG_LINE = (16 << 20) if SETTINGS.quick else (256 << 20)


def folder(name):
    path = os.path.join(WORK, name)
    os.makedirs(path, exist_ok=True)
    return path


def run(command, where, stdin_text=b""):
    return lambda: harness.timed(command, where, SETTINGS.timeout, stdin_text)


def main():
    rows = harness.Rows()
    rows.heading(f"profiledesk, {SETTINGS.rounds} rounds each, medians")
    timeout = SETTINGS.timeout

    # Peak memory listing one very long line, through a pipe and into a file.
    long_folder = folder("long-line")
    with open(os.path.join(long_folder, "datas.dat"), "wb") as f:
        f.write(b"x" * LONG_LINE)
    try:
        for target, tail in (("a pipe", "| cat > /dev/null"), ("a file", "> shown")):
            mib = harness.peak_memory_mib([PROGRAM], long_folder, timeout, b"2\n", tail=tail)
            rows.memory(f"peak memory listing one {LONG_LINE >> 20} MiB line into {target}", mib, 8)
    finally:
        for name in ("datas.dat", "shown"):
            if os.path.exists(os.path.join(long_folder, name)):
                os.remove(os.path.join(long_folder, name))

    # One append into the big repeated file against one into an empty file.
    big = folder(f"repeated-{SETTINGS.big >> 20}MiB")
    harness.make_repeated_file(PROGRAM, os.path.join(big, "datas.dat"), SETTINGS.big, timeout)
    empty = folder("empty")
    answers = ("1 Bench " + harness.ANSWERS).encode()
    before = os.path.getsize(os.path.join(big, "datas.dat"))

    def append_to_empty():
        path = os.path.join(empty, "datas.dat")
        if os.path.exists(path):
            os.remove(path)
        return harness.timed([PROGRAM], empty, timeout, answers)
    try:
        subject, reference = harness.side_by_side(run([PROGRAM], big, answers), append_to_empty, 5 * SETTINGS.rounds)
        rows.ratio("one option-1 append into the big file, against empty", subject, reference, goal=1.2)
    finally:
        os.truncate(os.path.join(big, "datas.dat"), before)  # the kept file stays as it was made

    # A whole scripted run of option 3, against cat of what it prints.
    guidance = folder("guidance")
    with open(os.path.join(guidance, "expected.txt"), "wb") as f:
        f.write(subprocess.run([PROGRAM], cwd=guidance, input=b"3\n", capture_output=True, start_new_session=True,
                               timeout=timeout, check=True).stdout)
    subject, reference = harness.side_by_side(run([PROGRAM], guidance, b"3\n"),
                                              run(["cat", "expected.txt"], guidance), SETTINGS.rounds)
    rows.ratio("a scripted run of option 3, against cat", subject, reference, goal=1.3)


if __name__ == "__main__":
    main()
