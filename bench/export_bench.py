"""Benchmarks of `profiledesk-records export`, each a ratio against a reference measured side
by side, on the big record file that run_bench.py makes (made here the same way if missing).

Usage: export_bench.py DESK_PROGRAM WORK_FOLDER RECORDS_PROGRAM [--quick]
"""

import os
import subprocess
import sys

import run_bench  # reads DESK_PROGRAM, WORK_FOLDER and --quick from the same arguments

RECORDS = os.path.abspath(sys.argv[3])
AWK_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fields_to_csv.awk")
MEMORY_GOAL_KIB = 16 * 1024


def main():
    big = run_bench.folder("big")
    run_bench.make_big_file(os.path.join(big, "datas.dat"), run_bench.BIG_SIZE)
    size_mib = os.path.getsize(os.path.join(big, "datas.dat")) >> 20
    print(f"profiledesk-records export benchmarks, {run_bench.ROUNDS} rounds each, medians; "
          f"record file of {size_mib} MiB")

    def export():
        return run_bench.run(f"'{RECORDS}' export --format csv datas.dat > /dev/null", big, shell=True)

    subject, reference = run_bench.side_by_side(
        export, lambda: run_bench.run(f"mawk -f '{AWK_SCRIPT}' datas.dat > /dev/null", big, shell=True))
    run_bench.report("export --format csv, against mawk pulling 8 fields", subject, reference, 0.25)
    subject, reference = run_bench.side_by_side(
        export, lambda: run_bench.run("cat datas.dat > /dev/null", big, shell=True))
    run_bench.report("export --format csv, against cat", subject, reference, 6.0)

    with open(os.devnull, "wb") as sink:
        kib = run_bench.peak_memory_kib([RECORDS, "export", "--format", "csv", "datas.dat"], big, b"", sink)
    verdict = "meets" if kib <= MEMORY_GOAL_KIB else "misses"
    print(f"{'peak memory of export --format csv':<52} {kib / 1024:9.2f}MiB (goal <= 16 MiB, {verdict})")


if __name__ == "__main__":
    main()
