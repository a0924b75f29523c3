"""Every command of profiledesk-records, and the desk's listing, on each record file, each as a
ratio against a reference measured side by side (in turn, medians), with the peak memory of
each command; then the goals, met or missed.

Usage: office_bench.py BUILD_FOLDER WORK_FOLDER [--quick]
BUILD_FOLDER holds profiledesk and profiledesk-records. The record files are made once under
WORK_FOLDER and kept there for later runs:
  repeated  the same 20 records over and over (the reader's shortcuts fire on nearly every line)
  varied    answers from realistic, skewed pools, times over three years (the goals' file)
  distinct  every answer different (what a tally must hold)
  varied, an eighth of the size (collate's growth with its input)
--quick makes them 32 MiB (4 MiB for the small one) and runs 3 rounds: a smoke test.
"""

import http.client
import os
import re
import select
import shutil
import signal
import sqlite3
import statistics
import subprocess
import sys
import time
import urllib.parse

sys.dont_write_bytecode = True  # nothing left beside the sources
import harness  # noqa: E402
from harness import q  # noqa: E402

sys.path.insert(0, os.path.join(harness.HERE, "..", "tests", "office"))
from postgres_server import BIN as PG_BIN, PORT as PG_PORT, Server  # noqa: E402

COLUMNS = ("source", "record", "line", "entered_at", "first_name", "surname", "place_of_birth", "date_of_birth",
           "age", "education_centre", "street", "coordinator", "nearby_business", "productivity_company",
           "maintenance_company", "zonal_library", "library_fee", "shopping_centre", "nearest_school",
           "years_ahead", "age_after_years")
WHOLE = ("record", "line")
PG_PASSWORD = "bench-pass"
AWK = os.path.join(harness.HERE, "records_to_csv.awk")
# Each of wrk's threads a clerk of its own (a cookie each), and its summary at the end of a run:
# the 95th percentile of its requests' latency, and how many failed or answered with anything
# but 2xx or 3xx.
WRK_SCRIPT = """local cookies = {%s}
local made = 0
function setup(thread)
  made = made + 1
  thread:set("cookie", cookies[(made - 1) %% #cookies + 1])
end
function init(args)
  wrk.headers["Cookie"] = cookie
end
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("p95 %%d failed %%d requests %%d\\n", latency:percentile(95),
                         e.connect + e.read + e.write + e.timeout + e.status, summary.requests))
end
"""


def sqlite_reference_script():
    """Export's rows loaded as one would by hand: .import into a staging table, then INSERT OR
    IGNORE into a table with the collate's unique key (random hex, as a hash is) and index."""
    columns = ", ".join(f"{name} {'INTEGER' if name in WHOLE else 'TEXT'}" for name in COLUMNS)
    return (f"CREATE TABLE records ({columns}, record_key TEXT NOT NULL UNIQUE);\n"
            "CREATE INDEX records_entered_at ON records (entered_at);\n"
            ".import --csv rows.csv staged\n"
            "INSERT OR IGNORE INTO records SELECT *, printf('%016x%016x-1', random(), random()) FROM staged;\n"
            "DROP TABLE staged;\n")


RANKED = ("place_of_birth", "education_centre", "street", "nearest_school", "shopping_centre")


def report_reference_script():
    """Every figure of the report's page from a database, as one would ask sqlite3 for them by
    hand in one read: the count, the first and last entries, the hours of each day, the ages,
    each ranked answer's distinct count and its ten most given, the desks, what needs a look."""
    where = "FROM records WHERE state <> 'rejected' AND forgotten = 0 AND gone = 0"
    lines = ["BEGIN;", f"SELECT count(*) {where};",
             f"SELECT min(entered_at), max(entered_at) {where} AND entered_at LIKE '____-__-__T__:__';",
             f"SELECT substr(entered_at, 1, 13), count(*) {where} GROUP BY 1;",
             f"SELECT age, count(*) {where} GROUP BY age;"]
    for column in RANKED:
        lines += [f"SELECT count(DISTINCT {column}) {where};",
                  f"SELECT substr({column}, 1, 200), count(*), length(CAST({column} AS BLOB)) {where} "
                  f"GROUP BY {column} ORDER BY 2 DESC, {column} LIMIT 10;"]
    lines += [f"SELECT source, count(*) {where} GROUP BY source;",
              f"SELECT looks, count(*) {where} AND looks <> '' GROUP BY looks;",
              f"SELECT * {where} AND looks <> '' ORDER BY entered_at, source, record LIMIT 20;", "COMMIT;"]
    return "\n".join(lines) + "\n"


PG_REFERENCE_TABLE = (
    "DROP TABLE IF EXISTS records_ref; CREATE TABLE records_ref ("
    + ", ".join(f"{name} {'BIGINT' if name in WHOLE else 'TEXT'}" for name in COLUMNS)
    + ", record_key TEXT COLLATE \"C\" NOT NULL UNIQUE DEFAULT md5(random()::text)); "
    "CREATE INDEX records_ref_entered_at ON records_ref (entered_at); ALTER TABLE records_ref OWNER TO desk")


class OfficeBench:
    def __init__(self, build, work, settings):
        self.desk = os.path.join(build, "profiledesk")
        self.tool = os.path.join(build, "profiledesk-records")
        self.work = work
        self.s = settings
        self.rows = harness.Rows()
        self.server = None
        self.pg_env = None
        self.pg_uri = None
        self.first_collate = {}  # (target, file label) -> median seconds
        helps = {command: self.help(command) for command in ("collate", "report", "export")}
        self.incremental = "--full" in helps["collate"]
        self.from_db = "--from-db" in helps["report"]
        self.jsonl = "jsonl" in helps["export"]

    def help(self, command):
        try:
            out = subprocess.run([self.tool, command, "--help"], capture_output=True, timeout=30, check=False)
            return out.stdout.decode(errors="replace") + out.stderr.decode(errors="replace")
        except subprocess.TimeoutExpired:
            return ""

    # -- running

    def sh(self, text, folder, env=None):
        """A timed run of shell text in `folder`, the desk's menu answered with option 2."""
        return lambda: harness.timed(text, folder, self.s.timeout, b"2\n", env=env, shell=True)

    def peak(self, command, folder, tail="", env=None):
        return harness.peak_memory_mib(command, folder, self.s.timeout, b"2\n", env=env, tail=tail)

    def compare(self, name, subject, reference, folder, peak_command=None, peak_tail="", goal=None,
                goal_text=None, prepare=None, rounds=None, env=None):
        """One row; any failure is a row that says so, and the bench goes on."""
        try:
            s, r = harness.side_by_side(subject, reference, rounds or self.s.rounds, prepare)
            mib = None
            if peak_command:
                if prepare:
                    prepare()
                mib = self.peak(peak_command, folder, peak_tail, env)
            self.rows.ratio(name, s, r, mib, goal, goal_text)
            return s, r, mib
        except (RuntimeError, OSError, subprocess.SubprocessError) as error:
            self.rows.failed(name, error, goal_text if goal is not None else None)
            return None, None, None

    # -- the files

    def files(self):
        big, small = self.s.big, self.s.small
        made = []
        for label, kind, size in (("varied", "varied", big), ("distinct", "distinct", big),
                                  ("repeated", "repeated", big), ("varied small", "varied", small)):
            folder = os.path.join(self.work, f"{kind}-{size >> 20}MiB")
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, "datas.dat")
            started, kept = time.perf_counter(), os.path.exists(path)
            if kind == "repeated":
                harness.make_repeated_file(self.desk, path, size, self.s.timeout)
            else:
                harness.make_shaped_file(self.desk, path, size, kind, self.s.timeout)
            took = time.perf_counter() - started
            note = ", kept from an earlier run" if kept and took < 1 else f", made in {took:.1f} s"
            print(f"  {label:<14} {path} ({os.path.getsize(path) >> 20} MiB{note})", flush=True)
            made.append((label, folder))
        return made

    # -- PostgreSQL

    def start_server(self):
        try:
            # Timed as a real office's server runs: with its syncs, which the tests' server skips.
            self.server = Server(settings="fsync = on\nfull_page_writes = on\nsynchronous_commit = on\n")
            self.server.sql(f"CREATE ROLE desk LOGIN PASSWORD '{PG_PASSWORD}'")
            self.server.sql("CREATE DATABASE office OWNER desk")
            self.pg_uri = self.server.uri("desk", "office")
            self.pg_env = self.server.env(PG_PASSWORD)
        except (RuntimeError, OSError, subprocess.SubprocessError) as error:
            print(f"  PostgreSQL server: FAILED to start: {str(error).splitlines()[0][:200]}", flush=True)
            self.stop_server()

    def stop_server(self):
        if self.server is not None:
            self.server.remove()
            self.server = None

    def psql(self, statement):
        return " ".join(q(part) for part in [f"{PG_BIN}/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h",
                                              self.server.folder, "-p", PG_PORT, "-U", "desk", "-d", "office",
                                              "-c", statement])

    def pg_fresh(self):
        # A first run: no records and no checkpoints of an earlier one.
        self.server.sql("DROP TABLE IF EXISTS records, collate_checkpoints, collate_counts", "office")
        self.server.sql(PG_REFERENCE_TABLE, "office")
        self.server.sql("CHECKPOINT")

    # -- the rows of one file

    def bench_file(self, label, folder):
        goals = label == "varied"
        tool = q(self.tool)
        export_csv = f"{tool} export --format csv datas.dat > /dev/null"
        self.rows.heading(f"{label} ({os.path.getsize(os.path.join(folder, 'datas.dat')) >> 20} MiB), "
                          f"{self.s.rounds} rounds, medians")
        cat_null = self.sh("cat datas.dat > /dev/null", folder)

        self.compare("check, against cat > /dev/null", self.sh(f"{tool} check datas.dat > /dev/null", folder),
                     cat_null, folder, [self.tool, "check", "datas.dat"],
                     goal=2.0 if goals else None, goal_text="check <= 2x cat (varied)")
        export = self.sh(export_csv, folder)
        self.compare("export csv > /dev/null, against cat > /dev/null", export, cat_null, folder,
                     [self.tool, "export", "--format", "csv", "datas.dat"],
                     goal=2.5 if goals else None, goal_text="export csv > /dev/null <= 2.5x cat > /dev/null (varied)")
        self.compare("export csv, against mawk writing the same CSV", export,
                     self.sh(f"mawk -f {q(AWK)} datas.dat > /dev/null", folder), folder,
                     goal=1 / 15 if goals else None,
                     goal_text="export csv at least 15x faster than mawk writing the same columns (varied)")
        if self.jsonl:
            self.compare("export jsonl > /dev/null, against export csv",
                         self.sh(f"{tool} export --format jsonl datas.dat > /dev/null", folder), export, folder,
                         [self.tool, "export", "--format", "jsonl", "datas.dat"],
                         goal=1.3 if goals else None, goal_text="export jsonl <= 1.3x export csv (varied)")
        else:
            self.rows.unsupported("export jsonl", "export jsonl <= 1.3x export csv (varied)" if goals else None)

        distinct = label == "distinct"
        _, _, mib = self.compare("report, against export csv > /dev/null",
                                 self.sh(f"{tool} report -o page.html datas.dat", folder), export, folder,
                                 [self.tool, "report", "-o", "page.html", "datas.dat"],
                                 goal=1.5 if distinct else None,
                                 goal_text="report <= 1.5x export csv (distinct)")
        if distinct and mib is not None:
            self.rows.memory("report, peak memory", mib, 96, "report <= 96 MiB (distinct)")
        self.remove(folder, "page.html")

        if label.startswith("varied"):
            self.find_rows(folder, goals)

        self.collate_sqlite(label, folder, goals)
        self.collate_postgres(label, folder, goals)

        desk = q(self.desk)
        self.compare("desk listing > /dev/null, against cat", self.sh(f"{desk} > /dev/null", folder), cat_null,
                     folder, [self.desk])
        self.compare("desk listing | cat, against cat | cat", self.sh(f"{desk} | cat > /dev/null", folder),
                     self.sh("cat datas.dat | cat > /dev/null", folder), folder, [self.desk],
                     peak_tail="| cat > /dev/null")
        def no_shown_file():
            # Each run writes into a new file with nothing of the last run's still to write back:
            # otherwise whichever runs after the other pays for its writeback.
            self.remove(folder, "shown")
            os.sync()

        self.compare("desk listing > a file, against cat > a file", self.sh(f"{desk} > shown", folder),
                     self.sh("cat datas.dat > shown", folder), folder, [self.desk], peak_tail="> shown",
                     goal=1.0 if goals else None, goal_text="desk listing > a file <= 1.0x cat > a file (varied)",
                     prepare=no_shown_file)
        self.remove(folder, "shown")

    def find_rows(self, folder, goals):
        """A clerk's search for a rare surname, ASCII and not, against grep -i counting its lines.
        grep writes its count to a file: into /dev/null it would stop at the first match."""
        tool = q(self.tool)
        for text, goal in (("kowalczyk", 2.0), ("öztürk", 3.0)):
            self.compare(f"find {text} > /dev/null, against grep -i -c",
                         self.sh(f"{tool} find {text} datas.dat > /dev/null", folder),
                         self.sh(f"LC_ALL=C.UTF-8 grep -i -c {text} datas.dat > counted", folder), folder,
                         [self.tool, "find", text, "datas.dat"], goal=goal if goals else None,
                         goal_text=f"find {text} <= {goal:g}x grep -i -c (varied)")
        self.remove(folder, "counted")

    def collate_sqlite(self, label, folder, goals):
        def fresh():
            for name in ("office.db", "reference.db"):
                for suffix in ("", "-journal", "-wal", "-shm"):
                    self.remove(folder, name + suffix)

        script = os.path.join(folder, "reference.sql")
        with open(script, "w", encoding="ascii") as f:
            f.write(sqlite_reference_script())
        os.environ["SQLITE_TMPDIR"] = folder  # any spill file of SQLite's stays here
        tool = q(self.tool)
        s, _, mib = self.compare(
            "collate SQLite first run, against export + sqlite3",
            self.sh(f"{tool} collate --into office.db datas.dat", folder),
            self.sh(f"{tool} export --format csv datas.dat > rows.csv && sqlite3 reference.db < reference.sql",
                    folder),
            folder, [self.tool, "collate", "--into", "office.db", "datas.dat"], prepare=fresh,
            rounds=self.s.collate_rounds, goal=1.0 if goals else None,
            goal_text="collate SQLite first run <= 1.0x export + sqlite3 .import + INSERT OR IGNORE (varied)")
        self.first_collate[("sqlite", label)] = (s, mib)
        fresh()
        for name in ("rows.csv", "reference.sql"):
            self.remove(folder, name)

    def collate_postgres(self, label, folder, goals):
        name = "collate PostgreSQL first run, against export + \\copy"
        goal_text = "collate PostgreSQL first run <= 1.0x export + psql \\copy into a keyed table (varied)"
        if self.server is None:
            self.rows.failed(name, "no PostgreSQL server", goal_text if goals else None)
            return
        tool = q(self.tool)
        copy = self.psql(f"\\copy records_ref ({', '.join(COLUMNS)}) FROM 'rows.csv' CSV HEADER")
        s, _, mib = self.compare(
            name, self.sh(f"{tool} collate --into {q(self.pg_uri)} datas.dat", folder, self.pg_env),
            self.sh(f"{tool} export --format csv datas.dat > rows.csv && {copy}", folder, self.pg_env),
            folder, [self.tool, "collate", "--into", self.pg_uri, "datas.dat"], prepare=self.pg_fresh,
            rounds=self.s.collate_rounds, goal=1.0 if goals else None, goal_text=goal_text, env=self.pg_env)
        self.first_collate[("postgres", label)] = (s, mib)
        self.remove(folder, "rows.csv")

    # -- across files

    def growth(self):
        self.rows.heading("collate against the size of its input (varied)")
        sqlite_big, sqlite_small = self.first_collate.get(("sqlite", "varied")), \
            self.first_collate.get(("sqlite", "varied small"))
        times = f"{self.s.big >> 20} MiB against {self.s.small >> 20} MiB"
        if sqlite_big and sqlite_small and sqlite_big[0] and sqlite_small[0]:
            self.rows.ratio(f"collate SQLite first run, {times}", sqlite_big[0], sqlite_small[0], goal=9.0,
                            goal_text="collate SQLite first run: 1 GiB <= 9x the time of 128 MiB")
        else:
            self.rows.failed("collate SQLite first run growth", "a first collate failed",
                             "collate SQLite first run: 1 GiB <= 9x the time of 128 MiB")
        for target in ("sqlite", "postgres"):
            big, small = self.first_collate.get((target, "varied")), self.first_collate.get((target, "varied small"))
            text = f"collate {'SQLite' if target == 'sqlite' else 'PostgreSQL'} peak memory"
            if big and small and big[1] is not None and small[1] is not None:
                self.rows.within(f"{text}, {times}", small[1], big[1], 4, "MiB",
                                 f"{text} the same at 128 MiB and 1 GiB (within 4 MiB)")
            else:
                self.rows.failed(text, "a first collate failed", f"{text} the same at 128 MiB and 1 GiB")

    def twice_written(self, small_folder):
        """A desk whose file holds every record twice (a file copied onto its own end): the first
        collate numbers each second record on, which once took hours where it took seconds."""
        folder = os.path.join(self.work, "twice")
        os.makedirs(folder, exist_ok=True)
        try:
            with open(os.path.join(small_folder, "datas.dat"), "rb") as f:
                records = f.read()
            with open(os.path.join(folder, "datas.dat"), "wb") as f:
                f.write(records + records)
            self.collate_sqlite("twice", folder, False)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def incremental_collate(self, varied_folder, distinct_folder):
        self.rows.heading("collate again, after one record is appended and with nothing changed (varied)")
        targets = [("SQLite", "sqlite"), ("PostgreSQL", "postgres")]
        if not self.incremental:
            for name, _ in targets:
                self.rows.unsupported(f"re-collate into {name}, one record appended",
                                      f"re-collate into {name} of 1 GiB + 1 record <= 2% of the first collate")
                self.rows.unsupported(f"re-collate into {name}, unchanged",
                                      f"re-collate into {name} of unchanged files <= check's time")
            return
        folder = os.path.join(self.work, "incremental")
        os.makedirs(folder, exist_ok=True)
        desk_file = os.path.join(folder, "datas.dat")
        shutil.copyfile(os.path.join(varied_folder, "datas.dat"), desk_file)
        size = os.path.getsize(desk_file)
        with open(os.path.join(distinct_folder, "datas.dat"), "rb") as f:
            new_record = b"".join(f.readline() for _ in range(30))  # a record the varied file lacks
        tool = q(self.tool)
        try:
            for name, target in targets:
                if target == "postgres" and self.server is None:
                    self.rows.failed(f"re-collate into {name}", "no PostgreSQL server")
                    continue
                into = "office.db" if target == "sqlite" else self.pg_uri
                env = self.pg_env if target == "postgres" else None
                collate = self.sh(f"{tool} collate --into {q(into)} datas.dat", folder, env)

                def fresh(target=target):
                    os.truncate(desk_file, size)
                    if target == "sqlite":
                        for suffix in ("", "-journal", "-wal", "-shm"):
                            self.remove(folder, "office.db" + suffix)
                    else:
                        self.pg_fresh()
                    collate()  # the first collate, untimed here
                    with open(desk_file, "ab") as out:
                        out.write(new_record)
                    os.sync()

                first = self.first_collate.get((target, "varied"), (None, None))[0]
                try:
                    times = []
                    for _ in range(self.s.collate_rounds):
                        fresh()
                        times.append(collate())
                    again = statistics.median(times)
                    if first:
                        self.rows.ratio(f"re-collate {name}, 1 record appended, vs first run",
                                        again, first, goal=0.02,
                                        goal_text=f"re-collate into {name} of 1 GiB + 1 record <= 2% of the "
                                                  "first collate")
                    # Nothing changed since: against check reading the same file.
                    self.compare(f"re-collate {name}, unchanged, vs check", collate,
                                 self.sh(f"{tool} check datas.dat > /dev/null", folder), folder, goal=1.0,
                                 goal_text=f"re-collate into {name} of unchanged files <= check's time", env=env)
                except (RuntimeError, OSError, subprocess.SubprocessError) as error:
                    self.rows.failed(f"re-collate into {name}", error)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def report_from_db(self, distinct_folder):
        self.rows.heading("report from a database (distinct)")
        goal_text = "report --from-db from a database of 1 GiB all-distinct <= 64 MiB"
        if not self.from_db:
            self.rows.unsupported("report --from-db", goal_text)
            return
        try:
            harness.call([self.tool, "collate", "--into", "from.db", "datas.dat"], distinct_folder, self.s.timeout)
            self.compare("report --from-db, against report of the file",
                         self.sh(f"{q(self.tool)} report --from-db from.db -o page.html", distinct_folder),
                         self.sh(f"{q(self.tool)} report -o page.html datas.dat", distinct_folder), distinct_folder)
            mib = self.peak([self.tool, "report", "--from-db", "from.db", "-o", "page.html"], distinct_folder)
            self.rows.memory("report --from-db, peak memory", mib, 64, goal_text)
        except (RuntimeError, OSError, subprocess.SubprocessError) as error:
            self.rows.failed("report --from-db", error, goal_text)
        finally:
            for name in ("from.db", "from.db-journal", "from.db-wal", "page.html"):
                self.remove(distinct_folder, name)

    def long_answers_row(self):
        """report on all-distinct answers four times the bench's length: its memory is bounded by
        the answers it keeps, not by their length."""
        folder = os.path.join(self.work, f"distinct-long-{self.s.big >> 20}MiB")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "datas.dat")
        goal_text = "report on all-distinct answers four times as long <= 64 MiB"
        try:
            harness.make_shaped_file(self.desk, path, self.s.big, "distinct-long", self.s.timeout)
            mib = self.peak([self.tool, "report", "-o", "page.html", "datas.dat"], folder)
            self.rows.memory("report, all-distinct answers 4x as long, peak memory", mib, 64, goal_text)
        except (RuntimeError, OSError, subprocess.SubprocessError) as error:
            self.rows.failed("report, long all-distinct answers", error, goal_text)
        finally:
            self.remove(folder, "page.html")

    # -- the office's database

    def database_rows(self, varied_folder):
        """What a clerk does in the database collate fills from the varied file: find a rare surname,
        correct a record, and the report with corrections in place; on SQLite and PostgreSQL."""
        self.rows.heading("the office's database, the varied file collated into it")
        folder = os.path.join(self.work, "database")
        os.makedirs(folder, exist_ok=True)
        desk_file = os.path.join(varied_folder, "datas.dat")
        try:
            targets = [("SQLite", os.path.join(folder, "office.db"), os.path.join(folder, "corrected.db"), None)]
            if self.server is not None:
                for name in ("records_db", "corrected_db"):
                    self.server.sql(f"DROP DATABASE IF EXISTS {name}")
                self.server.sql("CREATE DATABASE records_db OWNER desk")
                targets.append(("PostgreSQL", self.server.uri("desk", "records_db"),
                                self.server.uri("desk", "corrected_db"), self.pg_env))
            else:
                self.rows.failed("PostgreSQL database rows", "no PostgreSQL server")
            for name, into, corrected, env in targets:
                harness.call([self.tool, "collate", "--into", into, desk_file], folder, self.s.timeout, env=env)
                self.search_rows(name, into, folder, env)
                keys = self.keys(name, into)
                self.correct_row(name, into, keys, folder, env)
                if env is None:
                    shutil.copyfile(into, corrected)
                    script = os.path.join(folder, "figures.sql")
                    with open(script, "w", encoding="ascii") as f:
                        f.write(report_reference_script())
                    self.compare("SQLite: report --from-db, against sqlite3 of every figure",
                                 self.sh(f"{q(self.tool)} report --from-db office.db -o page.html", folder),
                                 self.sh("sqlite3 office.db < figures.sql > /dev/null", folder), folder,
                                 [self.tool, "report", "--from-db", "office.db", "-o", "page.html"], goal=1.0,
                                 goal_text="report --from-db <= 1.0x sqlite3 of every figure on its page (SQLite)")
                else:
                    self.server.sql("CREATE DATABASE corrected_db OWNER desk TEMPLATE records_db")
                self.corrections(corrected, keys, folder, env)
                self.compare(f"{name}: report --from-db corrected, against uncorrected",
                             self.sh(f"{q(self.tool)} report --from-db {q(corrected)} -o page.html", folder, env),
                             self.sh(f"{q(self.tool)} report --from-db {q(into)} -o page.html", folder, env), folder,
                             goal=1.2, env=env,
                             goal_text=f"report --from-db with 1% of records corrected <= 1.2x without ({name})")
        except (RuntimeError, OSError, subprocess.SubprocessError, sqlite3.Error) as error:
            self.rows.failed("the office's database", error)
        finally:
            if self.server is not None:
                for name in ("records_db", "corrected_db"):
                    self.server.sql(f"DROP DATABASE IF EXISTS {name}")
            shutil.rmtree(folder, ignore_errors=True)

    def search_rows(self, name, into, folder, env):
        """find --from-db of a surname held by 0.1% of records (and of one held by 0.2%, some typed
        with a combining mark): until its first record is out, and until its last."""
        for text, goal in (("kowalczyk", 50), ("öztürk", None)):
            firsts, wholes = [], []
            for _ in range(self.s.rounds):
                started = time.perf_counter()
                with subprocess.Popen([self.tool, "find", "--from-db", into, text], cwd=folder, env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                      preexec_fn=harness._bounded) as found:  # pylint: disable=protected-access
                    if not found.stdout.readline():
                        raise RuntimeError(f"find --from-db {text} found nothing")
                    firsts.append((time.perf_counter() - started) * 1000)
                    found.stdout.read()
                    found.wait(self.s.timeout)
                    wholes.append((time.perf_counter() - started) * 1000)
            for what, times in (("first record", firsts), ("every record", wholes)):
                self.rows.figure(f"{name}: find --from-db {text}, {what}, median", statistics.median(times), "ms",
                                 goal, f"find --from-db {text}, {what} <= {goal} ms ({name})" if goal else None)

    def keys(self, name, into):
        """Every 100th record's key: the records a clerk corrects."""
        query = "SELECT record_key FROM records ORDER BY record"
        if name == "SQLite":
            with sqlite3.connect(f"file:{into}?mode=ro", uri=True) as connection:
                rows = connection.execute(query).fetchall()
            connection.close()
        else:
            rows = self.server.sql(query, "records_db")
        return [row[0] for row in rows[::100]]

    def correct_row(self, name, into, keys, folder, env):
        times = []
        for n in range(self.s.rounds):
            times.append(harness.timed([self.tool, "correct", "--db", into, keys[n], f"street=Ring-Road-{n}", "--why",
                                        "typed in the wrong box"], folder, self.s.timeout, env=env))
        self.rows.figure(f"{name}: correct one record, median", statistics.median(times) * 1000, "ms", 50,
                         f"correct one record in a database of 1 GiB of desk files <= 50 ms ({name})")

    def corrections(self, into, keys, folder, env):
        """A clerk's work on 1% of the records: corrected, some of them rejected, a few erased."""
        why = ["--why", "the office's review"]
        harness.call([self.tool, "correct", "--db", into, *keys, "coordinator=Grace-Eze", *why], folder,
                     self.s.timeout, env=env)
        harness.call([self.tool, "review", "--db", into, *keys[::5], "rejected", *why], folder, self.s.timeout,
                     env=env)
        harness.call([self.tool, "forget", "--db", into, *keys[1::10], *why], folder, self.s.timeout, env=env)

    # -- the office's view in a browser

    def serve_rows(self, varied_folder):
        """The view's pages under load from wrk, on the varied file collated into each database."""
        self.rows.heading("the office's view in a browser (serve), on the varied file collated")
        goal_texts = ("search of a 0.1% surname, first page, p95 of 8 clients <= 100 ms",
                      "a record's page, p95 of 8 clients <= 20 ms", "the report page for a month <= 1000 ms",
                      "the view's peak memory under that load <= 64 MiB")
        if "--listen" not in self.help("serve") or not shutil.which("wrk"):
            for text in goal_texts:
                self.rows.unsupported(f"serve: {text}", f"serve (SQLite): {text}")
            return
        folder = os.path.join(self.work, "serve")
        os.makedirs(folder, exist_ok=True)
        script = os.path.join(folder, "p95.lua")
        desk_file = os.path.join(varied_folder, "datas.dat")
        try:
            db = os.path.join(folder, "office.db")
            harness.call([self.tool, "collate", "--into", db, desk_file], folder, self.s.timeout)
            with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as connection:
                (count,) = connection.execute("SELECT count(*) FROM records").fetchone()
                (middle,) = connection.execute("SELECT entered_at FROM records ORDER BY entered_at LIMIT 1 "
                                               "OFFSET ?", (count // 2,)).fetchone()
            month = middle[:7]
            self.serve_target("SQLite", db, None, folder, script, month, goal_texts)
            if self.server is not None:
                self.server.sql("DROP DATABASE IF EXISTS serve")
                self.server.sql("CREATE DATABASE serve OWNER desk")
                uri = self.server.uri("desk", "serve")
                harness.call([self.tool, "collate", "--into", uri, desk_file], folder, self.s.timeout, env=self.pg_env)
                self.serve_target("PostgreSQL", self.server.uri("", "serve").replace("//@", "//"),
                                  ("desk", PG_PASSWORD), folder, script, month, goal_texts)
        except (RuntimeError, OSError, subprocess.SubprocessError, sqlite3.Error) as error:
            self.rows.failed("serve", error)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def serve_target(self, name, db, sign_in, folder, script, month, goal_texts):
        env = {k: v for k, v in os.environ.items() if not k.startswith("PG")}  # each clerk signs in
        view = subprocess.Popen([self.tool, "serve", "--db", db, "--no-browser"], cwd=folder, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0, start_new_session=True)
        try:
            ready, _, _ = select.select([view.stdout], [], [], 60)
            found = re.search(rb"at (http://127\.0\.0\.1:(\d+))(/\S*)", view.stdout.readline() if ready else b"")
            if not found:
                raise RuntimeError("the view did not start")
            origin, port, entrance = found[1].decode(), int(found[2]), found[3].decode()

            def ask(method, path, cookie="", form=None):
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=self.s.timeout)
                try:
                    headers = {"Cookie": cookie, "Origin": origin}
                    body = urllib.parse.urlencode(form) if form else None
                    if body:
                        headers["Content-Type"] = "application/x-www-form-urlencoded"
                    connection.request(method, path, body=body, headers=headers)
                    answer = connection.getresponse()
                    return answer.status, answer.getheader("Set-Cookie", ""), answer.read().decode()
                finally:
                    connection.close()

            def clerk():
                _, cookie, _ = ask("GET", entrance)
                cookie = cookie.split(";")[0]
                if sign_in:
                    status, cookie, _ = ask("POST", "/signin", cookie, {"user": sign_in[0], "password": sign_in[1]})
                    cookie = cookie.split(";")[0]
                    if status != 303 or not cookie:
                        raise RuntimeError(f"signing in: status {status}")
                return cookie

            # Eight clerks, each in a browser of their own (on PostgreSQL, a connection each).
            cookies = [clerk() for _ in range(8)]
            cookie = cookies[0]
            with open(script, "w", encoding="ascii") as f:
                f.write(WRK_SCRIPT % ", ".join(f'"{c}"' for c in cookies))
            search = "/?q=kowalczyk&field=surname"
            key = re.search(r'href="(/record/[0-9a-f-]+)"', ask("GET", search, cookie)[2])[1]
            for (path, goal), text in zip(((search, 100), (key, 20)), goal_texts):
                p95 = self.wrk(origin + path, script, folder)
                time.sleep(5)  # the pages wrk left in hand are served before the next row
                self.rows.figure(f"{name}: {text.split(', p95')[0]}, p95 of 8", p95, "ms", goal,
                                 f"serve ({name}): {text}")
            report = f"/report/page?from={month}-01&to={month}-28"
            times = []
            for _ in range(self.s.rounds):
                started = time.perf_counter()
                if ask("GET", report, cookie)[0] != 200:
                    raise RuntimeError("the report page failed")
                times.append((time.perf_counter() - started) * 1000)
            self.rows.figure(f"{name}: report page for {month} (a month), median", statistics.median(times), "ms",
                             1000, f"serve ({name}): {goal_texts[2]}")
            with open(f"/proc/{view.pid}/status", encoding="ascii") as f:
                peak = int(re.search(r"VmHWM:\s+(\d+) kB", f.read())[1]) / 1024
            self.rows.memory(f"{name}: the view's peak memory", peak, 64, f"serve ({name}): {goal_texts[3]}")
        except (RuntimeError, OSError, subprocess.SubprocessError, TypeError) as error:
            self.rows.failed(f"serve ({name})", error)
        finally:
            try:
                os.killpg(view.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            view.wait()
            view.stdout.close()

    @staticmethod
    def wrk(url, script, folder):
        """The 95th percentile of 8 clerks asking for `url` for 10 s, in ms."""
        out = subprocess.run(["wrk", "-t8", "-c8", "-d10s", "--timeout", "10s", "-s", script, url], cwd=folder,
                             capture_output=True, timeout=120, start_new_session=True, check=True).stdout.decode()
        found = re.search(r"^p95 (\d+) failed (\d+) requests (\d+)$", out, re.MULTILINE)
        if not found or int(found[2]) > 0:
            raise RuntimeError(f"wrk: {out.strip().splitlines()[-1] if out.strip() else 'no summary'}")
        return int(found[1]) / 1000

    @staticmethod
    def remove(folder, name):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            os.remove(path)

    def run(self):
        started = time.perf_counter()
        print(f"profiledesk-records and the desk's listing, {'quick' if self.s.quick else 'full'} bench; "
              f"this build: incremental collate {'yes' if self.incremental else 'no'}, "
              f"report --from-db {'yes' if self.from_db else 'no'}", flush=True)
        if self.s.quick:
            print("quick: small files and 3 rounds, to try the bench itself; its figures are no measure",
                  flush=True)
        self.rows.heading("record files")
        files = dict(self.files())
        self.start_server()
        try:
            for label, folder in files.items():
                self.bench_file(label, folder)
            self.growth()
            self.rows.heading(f"a file of every record written twice ({2 * self.s.small >> 20} MiB)")
            self.twice_written(files["varied small"])
            self.incremental_collate(files["varied"], files["distinct"])
            self.report_from_db(files["distinct"])
            self.long_answers_row()
            self.database_rows(files["varied"])
            self.serve_rows(files["varied"])
        finally:
            self.stop_server()
        self.rows.summary()
        print(f"\nthe bench took {time.perf_counter() - started:.0f} s", flush=True)


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: office_bench.py BUILD_FOLDER WORK_FOLDER [--quick]")
    build, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)
    # A bench stopped by `timeout` or kill still stops its server and clears its files.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    OfficeBench(build, work, harness.Settings("--quick" in sys.argv)).run()


if __name__ == "__main__":
    main()
