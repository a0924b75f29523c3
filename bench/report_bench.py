"""Benchmark of `profiledesk-records report`: one page about the big record file, against
`export --format csv` of the same file (against cat while this build has no export), and
the report's peak memory.

Usage: report_bench.py DESK_PROGRAM RECORDS_PROGRAM WORK_FOLDER [--quick]
The big record file is the one run_bench.py makes, made the same way if it is missing.
"""

import os
import subprocess
import sys

DESK, RECORDS, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
# run_bench reads its program and folder from the command line when imported.
sys.argv = [sys.argv[0], DESK, WORK, *sys.argv[4:]]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  pylint: disable=wrong-import-position

MEMORY_GOAL_MIB = 64


def export_works(folder_path, records_file):
    result = subprocess.run([RECORDS, "export", "--format", "csv", records_file], cwd=folder_path,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                            timeout=600, check=False)
    return result.returncode == 0


def main():
    big = run_bench.folder("big")
    records_file = os.path.join(big, "datas.dat")
    run_bench.make_big_file(records_file, run_bench.BIG_SIZE)
    size_mib = os.path.getsize(records_file) >> 20
    print(f"profiledesk-records report, {run_bench.ROUNDS} rounds each, medians; record file of {size_mib} MiB")

    page = os.path.join(big, "report.html")
    subject = lambda: run_bench.run([RECORDS, "report", "-o", page, "datas.dat"], big)  # noqa: E731
    if export_works(big, records_file):
        name = "report of the big file, against export --format csv"
        reference = lambda: run_bench.run([RECORDS, "export", "--format", "csv", "datas.dat"], big)  # noqa: E731
    else:
        name = "report of the big file, against cat (no export here)"
        reference = lambda: run_bench.run(["cat", "datas.dat"], big)  # noqa: E731
    report_time, reference_time = run_bench.side_by_side(subject, reference)
    run_bench.report(name, report_time, reference_time, 1.5)
    # The same reading of the file with nothing counted: what the counting itself costs.
    report_time, reference_time = run_bench.side_by_side(
        subject, lambda: run_bench.run([RECORDS, "check", "datas.dat"], big))
    run_bench.report("report of the big file, against check", report_time, reference_time, 1.5)

    kib = run_bench.peak_memory_kib([RECORDS, "report", "datas.dat"], big, b"", subprocess.DEVNULL)
    verdict = "meets" if kib <= MEMORY_GOAL_MIB * 1024 else "misses"
    print(f"{'peak memory of report of the big file':<52} {kib / 1024:9.2f}MiB "
          f"(goal <= {MEMORY_GOAL_MIB} MiB, {verdict})")
    os.remove(page)


if __name__ == "__main__":
    main()
