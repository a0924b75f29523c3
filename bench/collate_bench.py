"""Benchmarks of `profiledesk-records collate` into SQLite, side by side with a reference.

Usage: collate_bench.py DESK_PROGRAM WORK_FOLDER RECORDS_PROGRAM [--quick]
The record file is the one run_bench.py makes (made here the same way if missing).
"""

import os
import subprocess
import sys

RECORDS = os.path.abspath(sys.argv.pop(3))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (reads DESK_PROGRAM, WORK_FOLDER and --quick itself)

HERE = os.path.dirname(os.path.abspath(__file__))
ROUNDS = 3


def export_works(data, folder):
    """Whether this build's `export` writes CSV yet; until it does, an awk script stands in."""
    with open(data, "rb") as f, open(os.path.join(folder, "probe.dat"), "wb") as probe:
        probe.write(b"".join(f.readline() for _ in range(30)))
    probe = subprocess.run([RECORDS, "export", "--format", "csv", "probe.dat"], cwd=folder,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=3600, check=False)
    return probe.returncode == 0


def fresh(path):
    for suffix in ("", "-journal", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)


def main():
    big = run_bench.folder("big")
    run_bench.make_big_file(os.path.join(big, "datas.dat"), run_bench.BIG_SIZE)
    work = run_bench.folder("collate")
    size_mib = os.path.getsize(os.path.join(big, "datas.dat")) >> 20
    data = os.path.join(big, "datas.dat")
    if export_works(data, work):
        to_csv = f"'{RECORDS}' export --format csv '{data}' > '{work}/rows.csv'"
        reference_name = "export --format csv + sqlite3 .import"
    else:
        to_csv = f"mawk -f '{HERE}/records_to_csv.awk' '{data}' > '{work}/rows.csv'"
        reference_name = "awk CSV + sqlite3 .import"
    database = os.path.join(work, "office.db")
    imported = os.path.join(work, "imported.db")

    def collate():
        fresh(database)
        return run_bench.run([RECORDS, "collate", "--into", database, data], work)

    def reference():
        fresh(imported)
        return run_bench.run(f"{to_csv} && sqlite3 '{imported}' '.import --csv {work}/rows.csv records'",
                             work, shell=True)

    print(f"collate benchmarks, {ROUNDS} rounds each, medians; record file of {size_mib} MiB")
    os.environ["SQLITE_TMPDIR"] = work  # the staging table's spill file stays here
    subject, reference_time = run_bench.side_by_side(collate, reference, rounds=ROUNDS)
    run_bench.report(f"collate, against {reference_name}", subject, reference_time, 1.0)

    fresh(database)
    kib = run_bench.peak_memory_kib([RECORDS, "collate", "--into", database, data], work, b"",
                                    subprocess.DEVNULL)
    name = f"peak memory collating {size_mib} MiB"
    print(f"{name:<52} {kib / 1024:9.2f}MiB (goal <= 64 MiB, {'meets' if kib <= 65536 else 'misses'})")
    for path in (database, imported):
        fresh(path)
    for name in ("rows.csv", "probe.dat"):
        os.remove(os.path.join(work, name))


if __name__ == "__main__":
    main()
