"""`profiledesk-records collate` into a PostgreSQL server that this suite starts itself.

Usage: collate_postgres_test.py PROFILEDESK_RECORDS PROFILEDESK WORK_FOLDER [SERVER_STATE_FILE]
  With SERVER_STATE_FILE, the server that `postgres_server.py start` left running; without,
  one of its own for this run.
"""

import hashlib
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import postgres_server  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib  # noqa: E402

TOOL, DESK, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
STATE_FILE = sys.argv[4] if len(sys.argv) > 4 else None
FAKETIME_LIB = faketime_lib()
PASSWORD = "desk-pass"
SERVER = None
RECORDS = []  # the bytes of one record each, as the desk program wrote them


def answers(first_name):
    return b"1\n" + first_name + b"\nDoe\nLagos\n12-03-1990\n36\n30\n5\nCity-College\nHarbour-Street\n" \
        b"Mary-Okafor\nBakery-One\nSteel-Works\nFix-It\nCentral-Library\n1500\nGrand-Plaza\nHill-School\n"


def desk_records(first_names):
    """Records entered at the desk, one run each, on a fixed clock."""
    folder = tempfile.mkdtemp(dir=WORK)
    env = dict(os.environ, TZ="UTC", FAKETIME="2026-12-06 15:53:20", LD_PRELOAD=FAKETIME_LIB,
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    for name in first_names:
        subprocess.run([DESK], cwd=folder, input=answers(name), stdout=subprocess.DEVNULL, env=env,
                       start_new_session=True, timeout=30, check=True)
    with open(os.path.join(folder, "datas.dat"), "rb") as f:
        lines = f.read().splitlines(keepends=True)
    shutil.rmtree(folder)
    return [b"".join(lines[i:i + 30]) for i in range(0, len(lines), 30)]


def write(name, *records):
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(b"".join(records))
    return path


def collate(into, *files, password=PASSWORD, timeout=120):
    return subprocess.run([TOOL, "collate", "--into", into, *files], capture_output=True,
                          env=SERVER.env(password), start_new_session=True, timeout=timeout, check=False)


def new_database(name, encoding="UTF8"):
    SERVER.sql(f"CREATE DATABASE {name} OWNER desk ENCODING '{encoding}' TEMPLATE template0")
    return SERVER.uri("desk", name)


def setUpModule():
    global SERVER
    os.makedirs(WORK, exist_ok=True)
    if STATE_FILE:
        SERVER = postgres_server.attach(STATE_FILE)
    else:
        SERVER = postgres_server.Server()
        unittest.addModuleCleanup(SERVER.remove)
    SERVER.sql(f"CREATE ROLE desk LOGIN PASSWORD '{PASSWORD}'")
    RECORDS.extend(desk_records([b"Ama%d" % n for n in range(13)]))


class Loading(unittest.TestCase):
    maxDiff = None

    def test_new_database_gets_the_table_and_the_rows_as_stored(self):
        into = new_database("fresh")
        path = write("three.dat", *RECORDS[:3])
        result = collate(into, path)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, b"3 added, 0 already present, 0 problems\n", b""))
        columns = SERVER.sql("SELECT column_name, data_type, is_nullable FROM information_schema.columns "
                             "WHERE table_name = 'records' ORDER BY ordinal_position", "fresh")
        texts = ["first_name", "surname", "place_of_birth", "date_of_birth", "age", "education_centre", "street",
                 "coordinator", "nearby_business", "productivity_company", "maintenance_company", "zonal_library",
                 "library_fee", "shopping_centre", "nearest_school", "years_ahead", "age_after_years"]
        self.assertEqual(columns, [["source", "text", "NO"], ["record", "bigint", "NO"],
                                   ["line", "bigint", "NO"], ["entered_at", "text", "NO"]]
                         + [[name, "text", "NO"] for name in texts] + [["record_key", "text", "NO"]]
                         + [["state", "text", "NO"], ["gone", "bigint", "NO"], ["forgotten", "bigint", "NO"],
                            ["revision", "bigint", "NO"], ["looks", "text", "NO"]])
        indexes = [row[0] for row in SERVER.sql("SELECT indexdef FROM pg_indexes WHERE tablename = 'records'",
                                                "fresh")]
        self.assertEqual(sorted(re.sub(r"INDEX \S+ ON \S+", "INDEX ON", i) for i in indexes),
                         ["CREATE INDEX ON USING btree (entered_at)", "CREATE INDEX ON USING btree (source, record)",
                          "CREATE UNIQUE INDEX ON USING btree (record_key)"])
        rows = SERVER.sql("SELECT * FROM records ORDER BY record", "fresh")
        self.assertEqual(rows[1][:21], [path, "2", "31", "2026-12-06T15:53", "Ama1", "Doe", "Lagos", "12-03-1990",
                                        "36", "City-College", "Harbour-Street", "Mary-Okafor", "Bakery-One",
                                        "Steel-Works", "Fix-It", "Central-Library", "1500", "Grand-Plaza",
                                        "Hill-School", "5", "35"])
        self.assertRegex(rows[1][21], r"^[0-9a-f]{32}-1$")

    def test_again_adds_nothing_and_an_appended_record_only_itself(self):
        into = new_database("again")
        first = write("first.dat", *RECORDS[0:3])
        second = write("second.dat", *RECORDS[3:6])
        runs = [collate(into, first, second)]
        # The first run's rows are visible to all as written: the next run counts a desk's rows
        # by the index alone, not by reading every row of a table no VACUUM has yet been over.
        plan = SERVER.sql("SET enable_seqscan = off; SET enable_bitmapscan = off; EXPLAIN (ANALYZE, COSTS off) "
                          f"SELECT count(*) FROM records WHERE source = '{first}'", "again")
        self.assertIn(["Heap Fetches: 0"], [[line[0].strip()] for line in plan])
        runs.append(collate(into, first, second))
        write("first.dat", *RECORDS[0:3], RECORDS[6])
        runs.append(collate(into, first))
        self.assertEqual([(r.returncode, r.stdout, r.stderr) for r in runs],
                         [(0, b"6 added, 0 already present, 0 problems\n", b""),
                          (0, b"0 added, 6 already present, 0 problems\n", b""),
                          (0, b"1 added, 3 already present, 0 problems\n", b"")])
        self.assertEqual(SERVER.sql("SELECT count(*), count(DISTINCT record_key) FROM records", "again"),
                         [["7", "7"]])

    def test_a_file_named_twice_into_a_new_table_is_added_once(self):
        path = write("twice.dat", *RECORDS[0:3])
        result = collate(new_database("twice"), path, path)
        self.assertEqual((result.returncode, result.stdout), (0, b"3 added, 3 already present, 0 problems\n"))
        self.assertEqual(SERVER.sql("SELECT count(*) FROM records", "twice"), [["3"]])

    def test_eight_at_once_leave_the_union_once(self):
        into = new_database("crowd")  # the table too is made by whichever run comes first
        files = [write(f"crowd{i}.dat", *RECORDS[i:i + 5]) for i in range(8)]
        runs = [subprocess.Popen([TOOL, "collate", "--into", into, path], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, env=SERVER.env(PASSWORD), start_new_session=True)
                for path in files]
        outcomes = [(run.communicate(timeout=120), run.returncode) for run in runs]
        outcomes = [(status, out, err) for (out, err), status in outcomes]
        self.assertEqual([(status, err) for status, _, err in outcomes], [(0, b"")] * 8)
        added = [re.fullmatch(rb"(\d+) added, (\d+) already present, 0 problems\n", out) for _, out, _ in outcomes]
        self.assertEqual([int(m[1]) + int(m[2]) for m in added], [5] * 8)
        self.assertEqual(sum(int(m[1]) for m in added), 12)
        self.assertEqual(SERVER.sql("SELECT count(*), count(DISTINCT first_name) FROM records", "crowd"),
                         [["12", "12"]])

    def test_answers_are_utf8_in_any_database(self):
        # Read as UTF-8, 0xFF is no character; read as CP1252 it is "ÿ". Told once a file.
        kofi = desk_records([b"Kofi\xff\\\x01"])[0]
        # No database takes a NUL byte in text, whatever its encoding.
        nul = RECORDS[1].replace(b"Ama1", b"Ko\x00fi")
        path = write("kofi.dat", RECORDS[0], kofi, nul)
        hint = path.encode() + b": not UTF-8 (a Windows desk? try --encoding CP1252)\n"
        nul_told = path.encode() + b":67: a NUL byte, stored as U+FFFD\n"
        for db, encoding, args, stored, err in (
                ("unicode", "UTF8", [], "4b6f6669efbfbd5c01", hint + nul_told),
                ("bytes", "SQL_ASCII", [], "4b6f6669efbfbd5c01", hint + nul_told),
                ("windows", "UTF8", ["--encoding", "CP1252"], "4b6f6669c3bf5c01", nul_told)):
            result = collate(new_database(db, encoding), *args, path)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (0, b"3 added, 0 already present, 0 problems\n", err), db)
            self.assertEqual(SERVER.sql("SELECT encode(textsend(first_name), 'hex') FROM records WHERE record > 1 "
                                        "ORDER BY record", db), [[stored], ["4b6fefbfbd6669"]], db)

    def test_two_runs_of_the_same_records_in_opposite_orders_both_succeed(self):
        into = new_database("opposite")
        self.assertEqual(collate(into, write("opposite-seed.dat", RECORDS[12])).returncode, 0)  # the table is there
        records = [RECORDS[0].replace(b"Ama0", b"Opp%05d" % n) for n in range(5000)]
        files = [write("forward.dat", *records), write("backward.dat", *reversed(records))]
        runs = [subprocess.Popen([TOOL, "collate", "--into", into, path], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, env=SERVER.env(PASSWORD), start_new_session=True)
                for path in files]
        outcomes = [(*run.communicate(timeout=120), run.returncode) for run in runs]
        self.assertEqual([(err, status) for _, err, status in outcomes], [(b"", 0)] * 2)
        added = [re.fullmatch(rb"(\d+) added, (\d+) already present, 0 problems\n", out) for out, _, _ in outcomes]
        self.assertEqual([int(m[1]) + int(m[2]) for m in added], [5000, 5000])
        self.assertEqual(sum(int(m[1]) for m in added), 5000)
        self.assertEqual(SERVER.sql("SELECT count(*), count(DISTINCT record_key) FROM records", "opposite"),
                         [["5001", "5001"]])

    def test_a_large_collate_sends_its_rows_as_it_reads(self):
        # Rows of wide answers, some 50 MB in all, in 64 MiB of address space: none of it may
        # wait in memory for the end.
        with open(TOOL, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("the address sanitizer reserves more address space than the limit")
        wide = RECORDS[0]
        for word in (b"Harbour-Street", b"Mary-Okafor", b"Bakery-One", b"Steel-Works", b"Central-Library"):
            self.assertEqual(wide.count(word), 1, word)
            wide = wide.replace(word, b"w" * 2000)
        path = write("wide.dat", wide * 5000)
        try:
            result = subprocess.run([TOOL, "collate", "--into", new_database("wide"), path], capture_output=True,
                                    env=SERVER.env(PASSWORD), start_new_session=True, timeout=300, check=False,
                                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (64 << 20, 64 << 20)))
        finally:
            os.remove(path)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, b"5000 added, 0 already present, 0 problems\n", b""))
        self.assertEqual(SERVER.sql("SELECT count(*), sum(length(street)) FROM records", "wide"),
                         [["5000", str(5000 * 2000)]])

    def test_rows_of_every_length_and_longer_than_a_piece_sent_arrive_byte_exact(self):
        # Streets of many lengths, ASCII and two- and three-byte characters, so that rows end
        # at every place of the pieces the rows go to the server in, and some rows are longer
        # than a piece. What follows a value shows that its length was told right.
        self.assertEqual(RECORDS[0].count(b"Harbour-Street"), 1)
        streets = ["w" * 40_000, "\u20ac" * 13_000 + "x", "A"]
        streets += [("\u00e9" if n % 3 else "\u20ac") * (n * 397 % 3000) + f"s{n}" for n in range(150)]
        records = [RECORDS[0].replace(b"Harbour-Street", street.encode()) for street in streets]
        path = write("lengths.dat", *records)
        result = collate(new_database("lengths"), path)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, b"%d added, 0 already present, 0 problems\n" % len(streets), b""))
        rows = SERVER.sql("SELECT record, octet_length(street), md5(street), coordinator, first_name "
                          "FROM records ORDER BY record", "lengths")
        self.assertEqual(rows, [[str(n + 1), str(len(street.encode())), hashlib.md5(street.encode()).hexdigest(),
                                 "Mary-Okafor", "Ama0"] for n, street in enumerate(streets)])

    def test_a_clerk_with_the_rights_the_manual_names_adds_to_tables_made_by_another(self):
        into = new_database("shared")
        self.assertEqual(collate(into, write("first.dat", *RECORDS[:2])).stdout,
                         b"2 added, 0 already present, 0 problems\n")
        SERVER.sql(f"CREATE ROLE clerk LOGIN PASSWORD '{PASSWORD}'")
        SERVER.sql("GRANT SELECT, INSERT ON records TO clerk", "shared")
        # Where each desk's last collate stopped is kept, moved on and dropped.
        SERVER.sql("GRANT SELECT, INSERT, UPDATE, DELETE ON collate_checkpoints, collate_counts, collate_desks TO clerk",
                   "shared")
        # And the index of answers, which the records it adds go to.
        SERVER.sql("GRANT SELECT, INSERT ON answer_values, answer_postings TO clerk", "shared")
        result = collate(SERVER.uri("clerk", "shared"), write("more.dat", *RECORDS[:4]))
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, b"2 added, 2 already present, 0 problems\n", b""))
        self.assertEqual(SERVER.sql("SELECT count(*) FROM records", "shared"), [["4"]])


class Failures(unittest.TestCase):
    def assertOneLineFailure(self, result, server, reason):
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        err = result.stderr.decode()
        self.assertRegex(err, r"^profiledesk-records: " + re.escape(server) + r": [^\n]*" + reason + r"[^\n]*\n$")

    def test_refusals_name_the_server_and_the_reason(self):
        into = new_database("guarded")
        path = write("one.dat", RECORDS[0])
        self.assertOneLineFailure(collate(into, path, password="wrong"), into, "password authentication failed")
        self.assertOneLineFailure(collate(SERVER.uri("desk", "nosuch"), path), SERVER.uri("desk", "nosuch"),
                                  'database "nosuch" does not exist')
        by_keywords = f"host='{SERVER.folder}' port=5432 user=desk dbname=guarded password=hunter2"
        refused = collate(by_keywords, path)
        self.assertOneLineFailure(refused, into, "PGPASSWORD")
        self.assertNotIn(b"hunter2", refused.stderr)
        unreadable = collate("postgresql://desk:hunter2@[::1/guarded", path)
        self.assertEqual((unreadable.returncode, unreadable.stderr.count(b"\n")), (1, 1))
        self.assertNotIn(b"hunter2", unreadable.stderr)
        # A folder where no server has its socket, its path short enough for one wherever
        # the build tree lives.
        nowhere = tempfile.mkdtemp(prefix="profiledesk-nowhere-", dir="/tmp")
        self.assertOneLineFailure(collate(f"host='{nowhere}' user=desk dbname=guarded", path),
                                  f"postgresql://desk@{urllib.parse.quote(nowhere, safe='')}:5432/guarded",
                                  "No such file or directory")
        os.rmdir(nowhere)
        self.assertEqual(SERVER.sql("SELECT to_regclass('records') IS NULL", "guarded"), [["t"]])

    def test_a_records_table_whose_key_is_not_unique_is_refused(self):
        into = new_database("unkeyed")
        self.assertEqual(collate(into, write("keyed.dat", RECORDS[0])).returncode, 0)
        SERVER.sql("DROP INDEX records_record_key", "unkeyed")
        self.assertOneLineFailure(collate(into, write("more.dat", RECORDS[1])), into,
                                  "the records table has no UNIQUE constraint on record_key alone")
        self.assertEqual(SERVER.sql("SELECT count(*) FROM records", "unkeyed"), [["1"]])

    def test_a_database_that_cannot_hold_every_answer_is_refused_before_reading(self):
        for db, encoding in (("western", "LATIN1"), ("cyrillic", "WIN1251")):
            into = new_database(db, encoding)
            result = collate(into, write("plain.dat", RECORDS[0]), "missing.dat")
            self.assertOneLineFailure(result, into, f"the database's encoding is {encoding}, .*createdb "
                                      "--encoding=UTF8 --template=template0")
            self.assertEqual(SERVER.sql("SELECT to_regclass('records') IS NULL", db), [["t"]])

    def test_server_stopped_mid_run_leaves_the_table_as_it_was(self):
        into = new_database("crash")
        before = collate(into, write("before.dat", RECORDS[12]))
        self.assertEqual(before.stdout, b"1 added, 0 already present, 0 problems\n")
        block = b"".join(RECORDS[:12])
        big = write("big.dat", block * (60_000_000 // len(block)))
        run = subprocess.Popen([TOOL, "collate", "--into", into, big], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=SERVER.env(PASSWORD), start_new_session=True)
        try:
            deadline = time.monotonic() + 60
            while not SERVER.sql("SELECT 1 FROM pg_stat_activity WHERE application_name = 'profiledesk-records' "
                                 "AND query LIKE 'COPY%' AND state = 'active'"):
                self.assertLess(time.monotonic(), deadline, "the COPY never started")
                self.assertIsNone(run.poll(), "the run ended before the server was stopped")
                time.sleep(0.05)
            SERVER.stop("immediate")
            out, err = run.communicate(timeout=60)
        finally:
            if run.poll() is None:
                os.killpg(run.pid, signal.SIGKILL)
                run.wait()
            os.remove(big)
            if not SERVER.running:
                SERVER.start()
        self.assertOneLineFailure(subprocess.CompletedProcess([], run.returncode, out, err), into, "")
        self.assertEqual(SERVER.sql("SELECT count(*) FROM records", "crash"), [["1"]])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
