"""`profiledesk-records collate` into SQLite, with records written by the desk program, the
database read back by the sqlite3 client: what is added, what is kept when a run fails part-way,
and two runs at once.

Usage: collate_sqlite_test.py DESK_PROGRAM RECORDS_PROGRAM
"""

import hashlib
import os
import resource
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib, preloadable, root_only, shared_folder  # noqa: E402
from quiet import without_made  # noqa: E402

RECORDS = os.path.abspath(sys.argv.pop(2))
DESK = os.path.abspath(sys.argv.pop(1))
WORK_ROOT = os.path.dirname(RECORDS)  # the build folder: nothing is left outside it
ANSWERS = "Roe Accra 01-01-1985 41 41 -2.5 Tech-Institute Ring-Road Kofi Mill Cocoa-Co Repairs " \
          "West-Library 250 Accra-Mall Park-School\n"
LINES = 30
ENV = dict(os.environ, SQLITE_TMPDIR=WORK_ROOT,
           ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")


def desk_records(folder, names, minute=10):
    """One record per name, entered by the desk program at 15:MINUTE on 6 December 2026."""
    path = os.path.join(folder, "datas.dat")
    env = dict(ENV, TZ="UTC", FAKETIME=f"2026-12-06 15:{minute}:00",
               LD_PRELOAD=faketime_lib())
    for name in names:
        subprocess.run([DESK], cwd=folder, input=f"1 {name} {ANSWERS}".encode(), env=env,
                       capture_output=True, start_new_session=True, timeout=30, check=True)
    with open(path, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    os.remove(path)
    return [b"".join(lines[i:i + LINES]) for i in range(0, len(lines), LINES)]


class Collate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="collate-", dir=WORK_ROOT)
        cls.ann, cls.ben, cls.cy, cls.dee = desk_records(cls.root, ["Ann", "Ben", "Cy", "Dee"])
        (cls.ann_again,) = desk_records(cls.root, ["Ann"])  # same bytes as ann

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.root)
        self.db = self.path("office.db")

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, *records):
        with open(self.path(name), "wb") as f:
            f.write(b"".join(records))
        return name

    def collate(self, *files, into="office.db", preexec_fn=None, user=None, wait=None, program=RECORDS):
        command = [program, "collate", "--into", into, *(["--wait", str(wait)] if wait is not None else []), *files]
        if user:
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", *command]
        done = subprocess.run(command, cwd=self.dir, capture_output=True, env=ENV, timeout=60,
                              preexec_fn=preexec_fn, start_new_session=True, check=False)
        done.stderr = without_made(done.stderr)
        return done

    def assert_collated(self, result, added, present, problems=0):
        self.assertEqual(result.stdout.decode(), f"{added} added, {present} already present, {problems} problems\n",
                         result.stderr.decode())
        self.assertEqual(result.returncode, 1 if problems else 0)

    def query(self, sql):
        return subprocess.run(["sqlite3", "-batch", self.db, sql], capture_output=True, timeout=60,
                              check=True).stdout.decode()

    def keys(self):
        return self.query("SELECT record_key FROM records ORDER BY rowid").split()

    def test_new_database_gets_the_schema_and_the_answers_as_stored(self):
        self.assert_collated(self.collate(self.write("a.dat", self.ann, self.ben)), 2, 0)
        columns = self.query("SELECT name, type, \"notnull\" FROM pragma_table_info('records')").split()
        self.assertEqual(columns[:4], ["source|TEXT|1", "record|INTEGER|1", "line|INTEGER|1", "entered_at|TEXT|1"])
        self.assertEqual(columns[19:], ["years_ahead|TEXT|1", "age_after_years|TEXT|1", "record_key|TEXT|1",
                                        "state|TEXT|1", "gone|INTEGER|1", "forgotten|INTEGER|1", "revision|INTEGER|1",
                                        "looks|TEXT|1"])
        self.assertEqual(len(columns), 27)
        # Every index of the table this run made, the key's unique.
        self.assertEqual(self.query("SELECT l.name, l.\"unique\", i.name FROM pragma_index_list('records') AS l, "
                                    "pragma_index_info(l.name) AS i ORDER BY l.name, i.seqno"),
                         "records_by_desk|0|source\nrecords_by_desk|0|record\n"
                         "records_entered_at|0|entered_at\nrecords_record_key|1|record_key\n")
        self.assertEqual(self.query("SELECT source, record, line, entered_at, first_name, surname, years_ahead, "
                                    "age_after_years, typeof(line) FROM records ORDER BY rowid"),
                         "a.dat|1|1|2026-12-06T15:10|Ann|Roe|-2.5|38.5|integer\n"
                         "a.dat|2|31|2026-12-06T15:10|Ben|Roe|-2.5|38.5|integer\n")
        with self.assertRaises(subprocess.CalledProcessError):  # the key is unique
            self.query("INSERT INTO records SELECT * FROM records LIMIT 1")

    def test_again_and_after_an_append_only_new_records_are_added(self):
        self.write("a.dat", self.ann, self.ben)
        self.write("b.dat", self.cy)
        self.assert_collated(self.collate("a.dat", "b.dat"), 3, 0)
        self.assert_collated(self.collate("a.dat", "b.dat"), 0, 3)
        self.write("b.dat", self.cy, self.dee)
        self.assert_collated(self.collate("b.dat"), 1, 1)
        self.assertEqual(self.query("SELECT count(*), count(DISTINCT record_key) FROM records"), "4|4\n")

    def test_a_record_entered_twice_is_kept_twice_and_crlf_gives_the_same_keys(self):
        self.write("once.dat", self.ann)
        self.assert_collated(self.collate("once.dat", "once.dat", into="once.db"), 1, 1)  # the key is per file
        self.write("twice.dat", self.ann, self.ann_again)
        self.assert_collated(self.collate("twice.dat"), 2, 0)
        self.assert_collated(self.collate("twice.dat"), 0, 2)
        keys = self.keys()
        self.assertEqual([key[:-2] for key in keys[:1]], [keys[1][:-2]])
        self.assertEqual([key[-2:] for key in keys], ["-1", "-2"])
        self.write("crlf.dat", self.ann.replace(b"\n", b"\r\n"), self.ann_again.replace(b"\n", b"\r\n"))
        self.assert_collated(self.collate("crlf.dat"), 0, 2)

    def test_a_record_cut_short_is_a_problem_and_the_whole_ones_are_added(self):
        self.write("cut.dat", self.ann, self.ben[:len(self.ben) // 2])
        result = self.collate("cut.dat", "missing.dat")
        self.assert_collated(result, 1, 0, problems=2)
        self.assertEqual(result.stderr.decode().splitlines(),
                         ["cut.dat:31: a record cut short (16 of 30 lines)",
                          "profiledesk-records: missing.dat: No such file or directory"])
        self.assertEqual(self.query("SELECT first_name FROM records"), "Ann\n")

    def test_two_collates_at_once_both_succeed_without_duplicates(self):
        self.write("big.dat", *[self.ann, self.ben, self.cy] * 2000)
        runs = [subprocess.Popen([RECORDS, "collate", "--into", "office.db", "big.dat"], cwd=self.dir, env=ENV,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
                for _ in range(2)]
        outputs = sorted(run.communicate(timeout=120)[0].decode() for run in runs)
        self.assertEqual([run.returncode for run in runs], [0, 0])
        self.assertEqual(outputs, ["0 added, 6000 already present, 0 problems\n",
                                   "6000 added, 0 already present, 0 problems\n"])
        self.assertEqual(self.query("SELECT count(DISTINCT record_key), count(*) FROM records"), "6000|6000\n")

    def test_a_run_killed_part_way_leaves_all_its_records_or_none(self):
        self.assert_collated(self.collate(self.write("a.dat", self.ann)), 1, 0)
        self.write("big.dat", *[self.ben, self.cy] * 20000)
        with open(self.db, "rb") as f:
            before = f.read()
        # Killed while reading, then at the moment the write transaction starts.
        for moment in ("reading", "writing"):
            with open(self.db, "wb") as f:
                f.write(before)
            run = subprocess.Popen([RECORDS, "collate", "--into", "office.db", "big.dat"], cwd=self.dir, env=ENV,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            deadline = time.monotonic() + 60
            while run.poll() is None and time.monotonic() < deadline:
                if moment == "reading" or os.path.exists(self.db + "-journal"):
                    time.sleep(0.2 if moment == "reading" else 0)
                    break
                time.sleep(0.001)
            run.kill()
            run.wait(timeout=10)
            self.assertEqual(self.query("PRAGMA integrity_check"), "ok\n")
            self.assertIn(self.query("SELECT count(*) FROM records"), ["1\n", "40001\n"], moment)

    def assert_refused(self, result, reason, before):
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertEqual(result.stderr.decode(), f"profiledesk-records: office.db: {reason}\n")
        with open(self.db, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), before)

    def seeded(self):
        self.assert_collated(self.collate(self.write("a.dat", self.ann)), 1, 0)
        self.write("b.dat", *[self.ben, self.cy] * 500)
        with open(self.db, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def test_a_database_that_cannot_be_written_is_refused_and_left_as_it_was(self):
        with open(self.db, "wb") as f:
            f.write(b"not a database, but a letter\n" * 200)
        with open(self.db, "rb") as f:
            letter = hashlib.sha256(f.read()).hexdigest()
        self.assert_refused(self.collate(self.write("b.dat", self.ben)), "not a SQLite database", letter)

        os.remove(self.db)
        before = self.seeded()

        # Another program holds the database for longer than a collate waits.
        holder = sqlite3.connect(self.db, isolation_level=None)
        holder.execute("BEGIN EXCLUSIVE")
        try:
            started = time.monotonic()
            refused = self.collate("b.dat", wait=1)
            waited = time.monotonic() - started
            self.assert_refused(refused, "the database is locked by another program (waited 1 s)", before)
            self.assertTrue(0.9 < waited < 4, f"waited {waited:.1f} s")
        finally:
            holder.execute("ROLLBACK")
            holder.close()

        # The file may grow by less than the new records need: the disk is full for it.
        limit = os.path.getsize(self.db) + 64 * 1024
        self.assert_refused(
            self.collate("b.dat", preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))),
            "could not write (the disk is full, or the file is at its size limit)", before)
        self.assertEqual(self.query("PRAGMA integrity_check; SELECT count(*) FROM records"), "ok\n1\n")

        # Held for less than that: the collate waits for it, then goes through.
        holder = sqlite3.connect(self.db, isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        run = subprocess.Popen([RECORDS, "collate", "--into", "office.db", "--wait", "3", "b.dat"], cwd=self.dir,
                               env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        time.sleep(1)
        holder.execute("ROLLBACK")
        holder.close()
        out, err = run.communicate(timeout=60)
        self.assert_collated(subprocess.CompletedProcess(run.args, run.returncode, out, err), 1000, 0)

    @root_only
    def test_a_database_the_user_may_not_write_is_refused_and_left_as_it_was(self):
        # A folder and a copy of the program that the user can reach, wherever the build lives.
        self.dir = shared_folder("profiledesk-collate-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.db = self.path("office.db")
        program = self.path("profiledesk-records")
        shutil.copy(RECORDS, program)
        os.chmod(program, 0o755)
        before = self.seeded()
        os.chmod(self.db, 0o444)
        # Refused before any desk is read: its problems are not told.
        self.write("c.dat", b"a line of no record\n", self.ben)
        self.assert_refused(self.collate("c.dat", user="65534", program=program), "the database is read-only", before)

    def test_a_failure_while_staging_is_told_as_itself(self):
        before = self.seeded()
        # Rows of wide answers, more than the staging table keeps in memory, so that it spills
        # to a temporary file, which the file-size limit stops long before the database grows.
        wide = self.ben
        for word in (b"Ring-Road", b"Kofi", b"Cocoa-Co", b"Repairs", b"West-Library"):
            self.assertEqual(wide.count(word), 1, word)
            wide = wide.replace(word, b"x" * 2000)
        self.write("wide.dat", wide * 1500)
        limit = 1 << 20
        self.assert_refused(
            self.collate("wide.dat", preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))),
            "could not write (the disk is full, or the file is at its size limit)", before)
        self.assertEqual([name for name in os.listdir(WORK_ROOT) if name.startswith("etilqs_")], [])

    def test_each_write_reaches_the_disk(self):
        # Both the journal and the database are synced before a collate says it is done.
        self.write("a.dat", self.ann)
        trace = self.path("syncs.txt")
        command = ["strace", "-f", "-y", "-qq", "-e", "trace=fsync,fdatasync", "-o", trace,
                   RECORDS, "collate", "--into", "office.db", "a.dat"]
        # The leak checker of a sanitizer build cannot run under a tracer.
        env = dict(ENV, ASAN_OPTIONS=ENV["ASAN_OPTIONS"] + ":detect_leaks=0")
        result = subprocess.run(command, cwd=self.dir, capture_output=True, env=env, timeout=60,
                                start_new_session=True, check=False)
        self.assert_collated(result, 1, 0)
        with open(trace, encoding="utf-8") as f:
            synced = {line.split("<", 1)[1].split(">", 1)[0] for line in f if "sync(" in line and "<" in line}
        db = os.path.realpath(self.db)
        self.assertLessEqual({db, db + "-journal"}, synced)

    def test_a_records_table_made_elsewhere_needs_a_unique_key_and_its_constraints_fail_the_run(self):
        self.assert_collated(self.collate(self.write("a.dat", self.ann)), 1, 0)
        schema = self.query("SELECT sql FROM sqlite_master WHERE name = 'records'")
        self.assertIn("record_key TEXT NOT NULL,", schema)

        # The same columns, but nothing keeps a key from coming twice.
        self.query("DROP INDEX records_record_key")
        with open(self.db, "rb") as f:
            before = hashlib.sha256(f.read()).hexdigest()
        self.assert_refused(self.collate("a.dat"), "the records table has no UNIQUE constraint on record_key "
                            "alone; give it one, or collate into another file", before)
        self.query("CREATE UNIQUE INDEX by_name_and_key ON records (first_name, record_key)")
        with open(self.db, "rb") as f:
            before = hashlib.sha256(f.read()).hexdigest()
        self.assert_refused(self.collate("a.dat"), "the records table has no UNIQUE constraint on record_key "
                            "alone; give it one, or collate into another file", before)

        # A key made unique by an index of its own is enough; a CHECK that a record breaks fails
        # the whole run instead of counting the record as already there.
        strict = schema.rstrip()[:-1] + ", CHECK (first_name <> 'Ben'))"
        self.query(f"DROP TABLE records; {strict}; CREATE UNIQUE INDEX keys ON records (record_key)")
        self.write("b.dat", self.ann, self.ben)
        result = self.collate("b.dat")
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertRegex(result.stderr.decode(), r"\Aprofiledesk-records: office\.db: CHECK constraint failed[^\n]*\n\Z")
        self.assertEqual(self.query("SELECT count(*) FROM records"), "0\n")
        self.assert_collated(self.collate(self.write("c.dat", self.ann, self.cy)), 2, 0)
        self.assert_collated(self.collate("c.dat"), 0, 2)

    def test_a_database_that_does_not_last_is_refused_and_a_file_name_with_an_equals_sign_is_a_file(self):
        self.write("a.dat", self.ann)
        for into in (":memory:", "", "file::memory:", "file:office.db?mode=memory"):
            result = self.collate("a.dat", into=into)
            self.assertEqual((result.returncode, result.stdout, result.stderr.decode()),
                             (2, b"", f"profiledesk-records: --into '{into}' names a database that is gone when "
                              "the run ends; name a file\n"), into)
        self.assertEqual(os.listdir(self.dir), ["a.dat"])
        self.db = self.path("office=2026.db")
        self.assert_collated(self.collate("a.dat", into="office=2026.db"), 1, 0)
        self.assertEqual(self.query("SELECT first_name FROM records"), "Ann\n")

    def table(self):
        """Every row in rowid order, rowids included, and the checkpoints and counts kept."""
        return self.query("SELECT rowid, * FROM records ORDER BY rowid; "
                          "SELECT * FROM collate_checkpoints ORDER BY source; "
                          "SELECT * FROM collate_counts ORDER BY source, content")

    def test_a_new_table_keeps_the_rows_and_keys_that_adding_to_an_existing_one_keeps(self):
        # Ann twice in a.dat (numbered 1 and 2), and again in b.dat, where her first record
        # has the key of a.dat's first: kept once, in a.dat, as skipping a key there would.
        self.write("a.dat", self.ann, self.ben, self.ann_again, self.cy)
        self.write("b.dat", self.ann, self.dee)
        self.write("empty.dat")
        tables = {}
        for case, setup in (("new", ""), ("unrelated table", "CREATE TABLE notes (text TEXT)"),
                            ("empty records table", None)):
            self.db = self.path(f"{len(tables)}.db")
            if setup:
                self.query(setup)
            if setup is None:  # the records table made by a run that added nothing
                self.assert_collated(self.collate("empty.dat", into=self.db), 0, 0)
                self.query("DELETE FROM collate_checkpoints; DELETE FROM collate_counts")
            self.assert_collated(self.collate("a.dat", "b.dat", into=self.db), 5, 1)
            tables[case] = self.table()
            self.assertEqual(self.query("SELECT source, first_name, substr(record_key, 33) FROM records "
                                        "ORDER BY rowid").split(),
                             ["a.dat|Ann|-1", "a.dat|Ben|-1", "a.dat|Ann|-2", "a.dat|Cy|-1", "b.dat|Dee|-1"], case)
            self.assertEqual(self.query("SELECT source, records, byte_offset FROM collate_checkpoints ORDER BY "
                                        "source").split(),
                             [f"a.dat|4|{2 * len(self.ann) + len(self.ben) + len(self.cy)}",
                              f"b.dat|2|{len(self.ann) + len(self.dee)}"], case)
            # A count is kept only where the desk's rows do not tell it: b.dat holds Ann once, but
            # her row is a.dat's.
            self.assertEqual(self.query("SELECT source, sum(times), max(times) FROM collate_counts GROUP BY "
                                        "source").split(), ["b.dat|1|1"], case)
        self.assertEqual(tables["unrelated table"], tables["new"])
        self.assertEqual(tables["empty records table"], tables["new"])
        # And again: nothing more.
        self.assert_collated(self.collate("a.dat", "b.dat", "--full", into="0.db"), 0, 6)

    def test_a_failure_after_the_rows_are_in_a_new_table_leaves_the_database_as_it_was(self):
        self.write("b.dat", *[self.ben, self.cy] * 500)
        self.query("CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('kept')")
        with open(self.db, "rb") as f:
            before = hashlib.sha256(f.read()).hexdigest()
        # The file may grow by less than the rows and their indexes need.
        limit = os.path.getsize(self.db) + 64 * 1024
        self.assert_refused(
            self.collate("b.dat", preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))),
            "could not write (the disk is full, or the file is at its size limit)", before)
        # An index of the new table whose name another table has: the rows were in already.
        self.query("CREATE TABLE records_record_key (text TEXT)")
        with open(self.db, "rb") as f:
            before = hashlib.sha256(f.read()).hexdigest()
        self.assert_refused(self.collate("b.dat"), "there is already a table named records_record_key", before)
        self.assertEqual(self.query("PRAGMA integrity_check; SELECT name FROM sqlite_master ORDER BY name"),
                         "ok\nnotes\nrecords_record_key\n")

    def test_a_desk_whose_file_fails_part_way_has_nothing_marked_gone(self):
        shim = os.environ.get("PROFILEDESK_READ_FAILS")
        if not shim:
            self.skipTest("no read-failing shim in this build")
        # Two files of one desk, the second larger than a piece of the reader, so that it fails
        # after its start: the records past that were not looked for, and are not gone.
        self.write("a.dat", self.ann)
        self.write("b.dat", *[self.ben] * 1000)
        self.assert_collated(self.collate("north=a.dat", "north=b.dat"), 1001, 0)
        failing = dict(ENV, LD_PRELOAD=preloadable(shim), PROFILEDESK_READ_FAILS_FOR=self.path("b.dat"))
        done = subprocess.run([RECORDS, "collate", "--into", "office.db", "north=a.dat", "north=b.dat"],
                              cwd=self.dir, capture_output=True, env=failing, timeout=60, start_new_session=True,
                              check=False)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn(b"b.dat: Input/output error\n", done.stderr)
        self.assertNotIn(b"gone", done.stdout)
        self.assertEqual(self.query("SELECT count(*) FROM records WHERE gone = 1"), "0\n")

    def test_the_database_may_not_be_one_of_the_files(self):
        self.write("a.dat", self.ann)
        result = self.collate("a.dat", into="./a.dat")
        self.assertEqual((result.returncode, result.stdout), (2, b""))
        self.assertIn("a.dat: is one of the files to collate", result.stderr.decode())
        with open(self.path("a.dat"), "rb") as f:
            self.assertEqual(f.read(), self.ann)
        # A folder is no database, for every command that reads or writes one.
        os.mkdir(self.path("office"))
        for args in (["collate", "--into", "office", "a.dat"], ["find", "--from-db", "office", "ann"],
                     ["report", "--from-db", "office"], ["show", "--db", "office", "01234567"]):
            done = subprocess.run([RECORDS, *args], cwd=self.dir, capture_output=True, env=ENV, timeout=60,
                                  start_new_session=True, check=False)
            self.assertEqual((done.returncode, done.stdout, done.stderr),
                             (2, b"", b"profiledesk-records: office: is a folder, not a database\n"), args)
        self.assertEqual(os.listdir(self.path("office")), [])


if __name__ == "__main__":
    unittest.main()
