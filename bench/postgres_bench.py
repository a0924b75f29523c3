"""`profiledesk-records collate` of the big record file into PostgreSQL, against loading the
same rows as CSV with psql's \\copy into a bare table, side by side on a server of its own.

Usage: postgres_bench.py PROFILEDESK_RECORDS PROFILEDESK WORK_FOLDER [--quick]
The big record file is the one bench/run_bench.py makes (WORK_FOLDER/big/datas.dat); it is
made the same way if missing.
"""

import importlib.util
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "office"))
from postgres_server import BIN, PORT, Server  # noqa: E402

TOOL, DESK, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
QUICK = "--quick" in sys.argv
ROUNDS = 1 if QUICK else 3
PASSWORD = "bench-pass"
COLUMNS = ("source, record, line, entered_at, first_name, surname, place_of_birth, date_of_birth, age, "
           "education_centre, street, coordinator, nearby_business, productivity_company, maintenance_company, "
           "zonal_library, library_fee, shopping_centre, nearest_school, years_ahead, age_after_years")
BARE_TABLE = ("CREATE TABLE records_import (source TEXT, record BIGINT, line BIGINT, entered_at TEXT, "
              + ", ".join(f"{name} TEXT" for name in COLUMNS.split(", ")[4:]) + ")")


def big_file():
    path = os.path.join(WORK, "big", "datas.dat")
    if not os.path.exists(path):
        # run_bench.py reads its program and folder from the command line when loaded.
        sys.argv = [os.path.join(HERE, "run_bench.py"), DESK, WORK] + (["--quick"] if QUICK else [])
        found = importlib.util.spec_from_file_location("run_bench", sys.argv[0])
        run_bench = importlib.util.module_from_spec(found)
        found.loader.exec_module(run_bench)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run_bench.make_big_file(path, run_bench.BIG_SIZE)
    return path


def timed(command, env):
    started = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True,
                   timeout=1800, check=True)
    return time.perf_counter() - started


def main():
    records = big_file()
    os.makedirs(os.path.join(WORK, "postgres"), exist_ok=True)
    # Timed as a real office's server runs: with its syncs, which the tests' server skips.
    server = Server(settings="fsync = on\nfull_page_writes = on\n")
    try:
        server.sql(f"CREATE ROLE desk LOGIN PASSWORD '{PASSWORD}'")
        server.sql("CREATE DATABASE office OWNER desk")
        into = server.uri("desk", "office")
        env = server.env(PASSWORD)
        psql = [f"{BIN}/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", server.folder, "-p", PORT, "-U", "desk",
                "-d", "office"]

        # The reference: export's CSV of the same records, then psql's \copy of it.
        csv = os.path.join(WORK, "postgres", "records.csv")

        def export():
            with open(csv, "wb") as out:
                started = time.perf_counter()
                subprocess.run([TOOL, "export", "--format", "csv", records], stdout=out, stderr=subprocess.PIPE,
                               start_new_session=True, timeout=1800, check=True)
                return time.perf_counter() - started

        def collate():
            server.sql("DROP TABLE IF EXISTS records", "office")
            server.sql("CHECKPOINT")
            return timed([TOOL, "collate", "--into", into, records], env)

        def copy():
            server.sql("DROP TABLE IF EXISTS records_import", "office")
            server.sql(BARE_TABLE + "; ALTER TABLE records_import OWNER TO desk", "office")
            server.sql("CHECKPOINT")
            return timed(psql + ["-c", f"\\copy records_import FROM '{csv}' CSV HEADER"], env)

        times = {"collate": [], "again": [], "copy": [], "read": []}
        for _ in range(ROUNDS):
            times["collate"].append(collate())
            times["again"].append(timed([TOOL, "collate", "--into", into, records], env))  # all there
            times["read"].append(export())  # the CSV that copy() loads
            times["copy"].append(copy())
        subject, again, copied, read = (statistics.median(times[key]) for key in ("collate", "again", "copy", "read"))
        rows = server.sql("SELECT (SELECT count(*) FROM records), (SELECT count(*) FROM records_import)", "office")
        size_mib = os.path.getsize(records) >> 20
        print(f"collate of {size_mib} MiB into PostgreSQL ({rows[0][0]} rows, {ROUNDS} rounds, medians)")
        for name, reference in (("collate into PostgreSQL, against export + \\copy", read + copied),
                                ("collate into PostgreSQL, against \\copy alone", copied)):
            ratio = subject / reference
            print(f"{name:<52} {subject:9.4f}s vs {reference:9.4f}s  ratio {ratio:5.2f}x "
                  f"(goal <= 1.0x, {'meets' if ratio <= 1.0 else 'misses'})", flush=True)
        ratio = again / (read + copied)
        name = "collate again (all present), against export + \\copy"
        print(f"{name:<52} {again:9.4f}s vs {read + copied:9.4f}s  ratio {ratio:5.2f}x (no goal)", flush=True)

        server.sql("DROP TABLE IF EXISTS records", "office")
        peak = subprocess.run(["/usr/bin/time", "-f", "%M", TOOL, "collate", "--into", into, records], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=1800, check=True)
        kib = int(peak.stderr.decode().strip().splitlines()[-1])
        name = "peak memory: collate into PostgreSQL"
        print(f"{name:<52} {kib / 1024:9.2f}MiB (goal <= 64 MiB, {'meets' if kib <= 65536 else 'misses'})")
    finally:
        server.remove()
        if os.path.exists(os.path.join(WORK, "postgres", "records.csv")):
            os.remove(os.path.join(WORK, "postgres", "records.csv"))


if __name__ == "__main__":
    main()
