"""`profiledesk-records collate` after a checkpoint: a run that reads only what follows the last
collate must leave the table exactly as a run that reads every file in full. Random histories of
appends, truncations, edits, CRLF conversions and renames, each step collated both ways (and into
a new database), on SQLite and on a PostgreSQL server that the suite starts itself.

Usage: collate_incremental_test.py PROFILEDESK_RECORDS PROFILEDESK WORK_FOLDER
"""

import os
import random
import resource
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

# The rows as a desk's records give them: the exported columns and the key.
COLUMNS = ("source, record, line, entered_at, first_name, surname, place_of_birth, date_of_birth, age, "
           "education_centre, street, coordinator, nearby_business, productivity_company, maintenance_company, "
           "zonal_library, library_fee, shopping_centre, nearest_school, years_ahead, age_after_years, record_key")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib  # noqa: E402
from quiet import without_made  # noqa: E402
from postgres_server import Server  # noqa: E402

TOOL, DESK, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
del sys.argv[1:4]
FAKETIME_LIB = faketime_lib()
ENV = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
FILE_LIMIT = 64 << 20  # no run writes more than this
CHANGED = ": changed before the last collated record; read in full"
POOL = []  # a handful of records, as the desk program wrote them: histories repeat them often


def answers(first_name, minute):
    return (f"1\n{first_name}\nDoe\nLagos\n12-03-1990\n36\n30\n{minute}\nCity-College\nHarbour-Street\n"
            "Mary-Okafor\nBakery-One\nSteel-Works\nFix-It\nCentral-Library\n1500\nGrand-Plaza\nHill-School\n").encode()


def setUpModule():
    os.makedirs(WORK, exist_ok=True)
    folder = tempfile.mkdtemp(dir=WORK)
    env = dict(ENV, TZ="UTC", FAKETIME="2026-12-06 15:53:20", LD_PRELOAD=FAKETIME_LIB)
    for n, name in enumerate(["Ama", "MÜLLER", "Kofi", "Ama"]):  # the last is the first again, byte for byte
        subprocess.run([DESK], cwd=folder, input=answers(name, 5 + n % 3), stdout=subprocess.DEVNULL, env=env,
                       start_new_session=True, timeout=30, check=True)
    with open(os.path.join(folder, "datas.dat"), "rb") as f:
        lines = f.read().splitlines(keepends=True)
    shutil.rmtree(folder)
    POOL.extend(b"".join(lines[i:i + 30]) for i in range(0, len(lines), 30))
    assert len(POOL) == 4 and POOL[0] == POOL[3] and len(set(POOL)) == 3


def limited():
    resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_LIMIT, FILE_LIMIT))


class History:
    """The desk files of one history, in a folder of their own, as lists of records (bytes)."""

    def __init__(self, folder, rng):
        self.folder, self.rng = folder, rng
        self.files = {"a.dat": [], "b.dat": []}
        self.tails = {}  # a record cut short at the end of a file
        self.crlf = set()
        self.changed = set()  # files whose collated part the last step changed

    def pick(self, count):
        return [self.rng.choice(POOL) for _ in range(count)]

    def step(self):
        """Changes the files at random; returns what it did."""
        self.changed = set()
        name = self.rng.choice(sorted(self.files))
        records = self.files[name]
        kind = self.rng.choice(["append", "append", "append", "truncate", "edit", "crlf", "rename", "cut"])
        if kind == "truncate" and records:
            del records[self.rng.randrange(len(records)):]
            self.tails.pop(name, None)
            self.changed.add(name)
        elif kind == "edit" and len(records) > 1:
            at = self.rng.randrange(len(records) - 1)
            records[at] = records[at].replace(b"Lagos", b"Lagos-Island", 1)  # the file's length changes
            self.changed.add(name)
        elif kind == "crlf" and name not in self.crlf and records:
            self.crlf.add(name)
            self.changed.add(name)
        elif kind == "rename":
            new = self.rng.choice(["c.dat", "d.dat", "e.dat"])
            if new not in self.files:
                self.files[new] = self.files.pop(name)
                if name in self.tails:
                    self.tails[new] = self.tails.pop(name)
                if name in self.crlf:
                    self.crlf.discard(name)
                    self.crlf.add(new)
                os.remove(os.path.join(self.folder, name))
        elif kind == "cut":
            self.tails[name] = self.rng.choice(POOL)[:self.rng.randrange(1, 900)]
        else:
            kind = "append"
            records.extend(self.pick(self.rng.randrange(1, 5)))
            if self.rng.random() < 0.5:
                self.tails.pop(name, None)
        self.write()
        return f"{kind} {name}"

    def write(self):
        for name, records in self.files.items():
            data = b"".join(records) + self.tails.get(name, b"")
            if name in self.crlf:
                data = data.replace(b"\n", b"\r\n")
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)


class Incremental:
    """The property, for one kind of database; the subclasses say how to make and read one."""

    maxDiff = None
    WATCHED = False  # rows changed by hand are logged, and a desk is counted only then
    STEPS = 30
    SEEDS = (1, 2, 3)

    def run_collate(self, into, files, *options):
        result = subprocess.run([TOOL, "collate", *options, "--into", into, *files], cwd=self.folder,
                                capture_output=True, env=self.env(), timeout=120, start_new_session=True,
                                preexec_fn=limited, check=False)
        result.stderr = without_made(result.stderr)
        self.assertIn(result.returncode, (0, 1), result.stderr.decode())
        self.assertNotIn("profiledesk-records:", result.stderr.decode())
        return result

    def test_incremental_runs_leave_the_table_a_full_run_leaves(self):
        for seed in self.SEEDS:
            with self.subTest(seed=seed):
                self.history_of(seed)

    def history_of(self, seed):
        self.folder = tempfile.mkdtemp(dir=self.root)
        history = History(self.folder, random.Random(seed))
        incremental, full = self.new_database(f"inc{seed}"), self.new_database(f"full{seed}")
        kept_everything = True  # no step so far took a record away
        history.files["a.dat"].extend(history.pick(3))
        history.write()
        done = ["start"]
        for step in range(self.STEPS):
            files = sorted(history.files)
            inc = self.run_collate(incremental, files)
            whole = self.run_collate(full, files, "--full")
            context = f"seed {seed}, after: {', '.join(done)}"
            # The same records added and found, whichever way the files were read.
            self.assertEqual(inc.stdout.split(b",")[:2], whole.stdout.split(b",")[:2], context)
            told = {line.split(":")[0] for line in inc.stderr.decode().splitlines() if line.endswith(CHANGED)}
            self.assertEqual(told, history.changed & set(files), context)
            self.assertNotIn(CHANGED, whole.stderr.decode(), context)
            self.assertEqual(self.rows(incremental), self.rows(full), context)
            self.assertKeptRowsAreTheDesksRows(incremental, context)
            fresh = self.new_database(f"new{seed}x{step}")
            self.run_collate(fresh, files)
            if kept_everything:
                self.assertEqual(sorted(self.rows(fresh)), sorted(self.rows(incremental)), context)
            else:
                self.assertLessEqual({row[-1] for row in self.rows(fresh)},
                                     {row[-1] for row in self.rows(incremental)}, context)
            self.drop_database(fresh)
            done.append(history.step())
            kept_everything = kept_everything and not done[-1].startswith(("truncate", "edit", "rename"))
        self.drop_database(incremental)
        self.drop_database(full)
        shutil.rmtree(self.folder)

    def assertKeptRowsAreTheDesksRows(self, into, context=None):
        # Each checkpoint's rows are worked out from the last one's and the run's, not counted.
        kept = self.sql(into, "SELECT source, kept_rows, (SELECT count(*) FROM records r WHERE r.source = "
                              "c.source) FROM collate_checkpoints c")
        self.assertTrue(kept, context)
        self.assertEqual([(source, int(rows)) for source, rows, _ in kept],
                         [(source, int(rows)) for source, _, rows in kept], context)

    def test_what_the_quick_check_cannot_see_and_full_reads_again(self):
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("quick")
        first, second, third = POOL[:3]
        with open(os.path.join(self.folder, "a.dat"), "wb") as f:
            f.write(first + second)
        self.assertEqual(self.run_collate(into, ["a.dat"]).stdout, b"2 added, 0 already present, 0 problems\n")
        # An edit by hand before the last collated record that keeps the file's length is not
        # seen: only the bytes of that record are read again.
        edited = first.replace(b"Lagos", b"Abuja")
        with open(os.path.join(self.folder, "a.dat"), "wb") as f:
            f.write(edited + second + third)
        result = self.run_collate(into, ["a.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"1 added, 2 already present, 0 problems\n", b""))
        # Read in full, the record as it was before the edit is no longer in the file: gone.
        result = self.run_collate(into, ["a.dat"], "--full")
        self.assertEqual((result.stdout, result.stderr),
                         (b"1 added, 2 already present, 1 marked gone from their desk's file, 0 problems\n", b""))
        self.assertEqual(sorted(row[6] for row in self.rows(into)), ["Abuja", "Lagos", "Lagos", "Lagos"])
        # Nothing new: nothing read, and the records there counted as present.
        self.assertEqual(self.run_collate(into, ["a.dat"]).stdout, b"0 added, 3 already present, 0 problems\n")
        lines = sorted((row[0], row[1], row[2], row[4]) for row in self.rows(into))
        self.assertEqual(lines, [("a.dat", 1, 1, "Ama"), ("a.dat", 1, 1, "Ama"), ("a.dat", 2, 31, "MÜLLER"),
                                 ("a.dat", 3, 61, "Kofi")])
        self.drop_database(into)
        shutil.rmtree(self.folder)

    def collate_while_another_runs(self, into, files, meanwhile, piped):
        """Runs `collate pipe FILES...` until it has read the checkpoints and waits for the pipe's
        writer, runs `meanwhile`, then writes `piped` into the pipe; gives the first run's result."""
        pipe = os.path.join(self.folder, "pipe")
        os.mkfifo(pipe)
        waiting = subprocess.Popen([TOOL, "collate", "--into", into, "pipe", *files], cwd=self.folder,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env(),
                                   start_new_session=True, preexec_fn=limited)
        try:
            # A writer may open without waiting only once the reader is at the pipe, which it
            # opens after reading the checkpoints.
            writer = None
            for _ in range(600):
                try:
                    writer = os.open(pipe, os.O_WRONLY | os.O_NONBLOCK)
                    break
                except OSError:
                    time.sleep(0.1)
            self.assertIsNotNone(writer, "the first run never opened the pipe")
            meanwhile()
            os.set_blocking(writer, True)
            with open(writer, "wb") as f:
                f.write(piped)
            out, err = waiting.communicate(timeout=60)
        finally:
            if waiting.poll() is None:
                os.killpg(waiting.pid, 9)
                waiting.wait()
        os.remove(pipe)
        return waiting.returncode, out, err

    def test_a_checkpoint_moved_by_another_run_meanwhile_is_read_on_from(self):
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("moved")
        path = os.path.join(self.folder, "a.dat")
        with open(path, "wb") as f:
            f.write(POOL[0])
        self.run_collate(into, ["a.dat"])
        with open(path, "ab") as f:
            f.write(POOL[1])
        meanwhile = lambda: self.assertEqual(self.run_collate(into, ["a.dat"]).stdout,  # noqa: E731
                                             b"1 added, 1 already present, 0 problems\n")
        # The first run waited for the other's write, then read a.dat again from where that one
        # stopped: the pipe's record is added, a.dat's two counted as there.
        self.assertEqual(self.collate_while_another_runs(into, ["a.dat"], meanwhile, POOL[2]),
                         (0, b"1 added, 2 already present, 0 problems\n", b""))
        self.assertEqual(len(self.rows(into)), 3)
        self.assertKeptRowsAreTheDesksRows(into)
        result = self.run_collate(into, ["a.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"0 added, 2 already present, 0 problems\n", b""))
        self.drop_database(into)
        shutil.rmtree(self.folder)

    def test_rows_deleted_by_hand_while_a_collate_runs_are_seen_by_the_next(self):
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("by_hand")
        with open(os.path.join(self.folder, "a.dat"), "wb") as f:
            f.write(POOL[0] + POOL[1])
        self.run_collate(into, ["a.dat"])
        # The run read a.dat's checkpoint before the deletion and commits after it.
        meanwhile = lambda: self.sql(into, "DELETE FROM records WHERE source = 'a.dat' AND record = 2")  # noqa: E731
        self.assertEqual(self.collate_while_another_runs(into, ["a.dat"], meanwhile, POOL[2])[0], 0)
        told = b"a.dat: the database no longer holds what its last collate left (rows or counts changed by hand); " \
               b"read in full\n"
        result = self.run_collate(into, ["a.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"1 added, 1 already present, 0 problems\n", told))
        self.assertEqual(sorted(row[4] for row in self.rows(into)), ["Ama", "Kofi", "MÜLLER"])
        self.assertKeptRowsAreTheDesksRows(into)
        if self.WATCHED:
            # A row deleted while the triggers are off is not noted: nothing noted since the
            # checkpoint, the desk is not counted, and the deletion goes unseen.
            delete = "DELETE FROM records WHERE source = 'a.dat' AND record = 2"
            self.sql(into, f"ALTER TABLE records DISABLE TRIGGER records_rows_by_hand; {delete}; "
                           "ALTER TABLE records ENABLE TRIGGER records_rows_by_hand")
            result = self.run_collate(into, ["a.dat"])
            self.assertEqual((result.stdout, result.stderr), (b"0 added, 2 already present, 0 problems\n", b""))
            # While they are off, every run counts.
            self.sql(into, "ALTER TABLE records DISABLE TRIGGER records_rows_by_hand")
            result = self.run_collate(into, ["a.dat"])
            self.assertEqual((result.stdout, result.stderr), (b"1 added, 1 already present, 0 problems\n", told))
            self.sql(into, "ALTER TABLE records ENABLE TRIGGER records_rows_by_hand")
            self.assertEqual(self.run_collate(into, ["a.dat"]).stderr, b"")
            self.sql(into, "TRUNCATE records")
            result = self.run_collate(into, ["a.dat"])
            self.assertEqual((result.stdout, result.stderr), (b"2 added, 0 already present, 0 problems\n", told))
            # Without its log, a collate counts as before rather than fail.
            self.sql(into, "DROP TABLE records_changed_by_hand")
            self.assertEqual(self.run_collate(into, ["a.dat"]).returncode, 0)
        self.drop_database(into)
        shutil.rmtree(self.folder)

    def test_a_checkpoint_another_run_moves_in_place_or_drops_meanwhile_is_seen(self):
        # The other run leaves the desk's checkpoint at the same byte and record after another
        # last record, which only its hash tells; or drops it, reading the desk from two files.
        for n, other in enumerate((["a.dat=b.dat"], ["a.dat=a.dat", "a.dat=c.dat"])):
            with self.subTest(other=other):
                self.folder = tempfile.mkdtemp(dir=self.root)
                into, serial = self.new_database(f"meanwhile{n}"), self.new_database(f"serial{n}")
                for name, record in (("a.dat", POOL[0]), ("b.dat", POOL[0].replace(b"Lagos", b"Abuja")),
                                     ("c.dat", POOL[1])):
                    with open(os.path.join(self.folder, name), "wb") as f:
                        f.write(record)
                for database in (into, serial):
                    self.run_collate(database, ["a.dat"])
                meanwhile = lambda: self.run_collate(into, other)  # noqa: E731
                run = self.collate_while_another_runs(into, ["a.dat"], meanwhile, POOL[2])
                # The same as the two runs one after the other.
                self.run_collate(serial, other)
                with open(os.path.join(self.folder, "pipe"), "wb") as f:
                    f.write(POOL[2])
                after = self.run_collate(serial, ["pipe", "a.dat"])
                self.assertEqual(run, (after.returncode, after.stdout, after.stderr))
                self.assertEqual(sorted(self.rows(into)), sorted(self.rows(serial)))
                self.drop_database(into)
                self.drop_database(serial)
                shutil.rmtree(self.folder)

    def test_a_record_entered_again_after_the_checkpoint_is_numbered_on(self):
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("again")
        ama, muller = POOL[0], POOL[1]
        for name, records, added in [("a.dat", [ama, muller], 2), ("b.dat", [ama], 0), ("a.dat", [ama, muller, ama], 1),
                                     ("b.dat", [ama, ama], 0), ("b.dat", [ama, ama, ama], 1)]:
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"".join(records))
            result = self.run_collate(into, [name])
            self.assertEqual(result.stdout.split(b" ")[0], str(added).encode(), (name, len(records)))
        keys = sorted(row[-1] for row in self.rows(into))
        self.assertEqual(sorted(key[-2:] for key in keys), ["-1", "-1", "-2", "-3"])
        self.drop_database(into)
        shutil.rmtree(self.folder)

    def test_a_new_table_numbers_records_repeated_in_a_file_and_keeps_the_earlier_files_copy(self):
        # One run makes the table from two files: a record twice in one, and once in the other.
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("repeats")
        ama, muller, kofi = POOL[0], POOL[1], POOL[2]
        for name, records in (("a.dat", [ama, muller, ama]), ("b.dat", [kofi, ama])):
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"".join(records))
        result = self.run_collate(into, ["a.dat", "b.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"4 added, 1 already present, 0 problems\n", b""))
        # Each file's counts go on from its own records: a.dat holds Ama twice, b.dat once.
        for name, records in (("a.dat", [ama]), ("b.dat", [ama, ama])):
            with open(os.path.join(self.folder, name), "ab") as f:
                f.write(b"".join(records))
        result = self.run_collate(into, ["a.dat", "b.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"1 added, 7 already present, 0 problems\n", b""))
        self.assertEqual(sorted((row[0], row[1], row[4], row[-1][-2:]) for row in self.rows(into)),
                         [("a.dat", 1, "Ama", "-1"), ("a.dat", 2, "MÜLLER", "-1"), ("a.dat", 3, "Ama", "-2"),
                          ("a.dat", 4, "Ama", "-3"), ("b.dat", 1, "Kofi", "-1")])
        self.drop_database(into)
        shutil.rmtree(self.folder)


    def test_a_records_table_made_again_takes_every_file_whole(self):
        # The checkpoints outlive a records table dropped by hand; trusted, they would leave
        # the start of every file out of the table made again.
        self.folder = tempfile.mkdtemp(dir=self.root)
        into, fresh = self.new_database("remade"), self.new_database("fresh")
        ama, muller, kofi = POOL[0], POOL[1], POOL[2]
        for name, records in (("a.dat", [ama, muller]), ("b.dat", [kofi, ama])):
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"".join(records))
        self.run_collate(into, ["a.dat", "b.dat"])
        self.drop_records(into)
        with open(os.path.join(self.folder, "a.dat"), "ab") as f:
            f.write(muller)
        # b.dat's checkpoint is gone too: read again, its record that a.dat lacks is added.
        for name, told in (("a.dat", b"3 added, 0 already present"), ("b.dat", b"1 added, 1 already present")):
            result = self.run_collate(into, [name])
            self.assertEqual((result.stdout, result.stderr), (told + b", 0 problems\n", b""), name)
        self.run_collate(fresh, ["a.dat", "b.dat"])
        self.assertEqual(self.rows(into), self.rows(fresh))
        self.drop_database(into)
        self.drop_database(fresh)
        shutil.rmtree(self.folder)

    def test_a_checkpoint_is_the_desks_name_read_as_stored_whatever_the_encoding(self):
        self.folder = tempfile.mkdtemp(dir=self.root)
        into = self.new_database("names")
        ama, kofi = POOL[0], POOL[2]
        muller = POOL[1].replace("MÜLLER".encode(), "MÜLLER".encode("cp1252"))  # a Windows desk's
        path = os.path.join(self.folder, "north.dat")
        with open(path, "wb") as f:
            f.write(b"\xef\xbb\xbf" + ama)  # saved once by Notepad
        # Read after the checkpoint each time, though a mark began the file before the first
        # record, and the last record's answers were decoded.
        for added, record in enumerate([ama, muller, kofi]):
            if added:
                with open(path, "ab") as f:
                    f.write(record)
            result = self.run_collate(into, ["--encoding", "CP1252", "north=north.dat"])
            self.assertEqual((result.stdout, result.stderr),
                             (b"1 added, %d already present, 0 problems\n" % added, b""))
        # Another name has no checkpoint yet: the whole file is read, and its records are there.
        result = self.run_collate(into, ["--encoding", "CP1252", "east=north.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"0 added, 3 already present, 0 problems\n", b""))
        result = self.run_collate(into, ["--encoding", "CP1252", "east=north.dat"])
        self.assertEqual((result.stdout, result.stderr), (b"0 added, 3 already present, 0 problems\n", b""))
        self.assertEqual(sorted((row[0], row[1], row[4]) for row in self.rows(into)),
                         [("north", 1, "Ama"), ("north", 2, "MÜLLER"), ("north", 3, "Kofi")])
        # The files of one desk's pattern share its name: read in full each time, and never
        # told as changed, since the name keeps no checkpoint of one of them.
        for name, records in [("west-1.dat", [ama]), ("west-2.dat", [kofi, kofi])]:
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"".join(records))
        with open(os.path.join(self.folder, "desks.toml"), "w", encoding="utf-8") as f:
            f.write('[[desk]]\nname = "west"\npath = "west-*.dat"\n')
        for added in (1, 0):  # the second Kofi of west-2.dat is new
            result = self.run_collate(into, ["--desks", "desks.toml"])
            self.assertEqual((result.stdout, result.stderr),
                             (b"%d added, %d already present, 0 problems\n" % (added, 3 - added), b""))
        self.drop_database(into)
        shutil.rmtree(self.folder)


class OnSqlite(Incremental, unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="incremental-", dir=WORK)

    def tearDown(self):
        shutil.rmtree(self.root)

    def env(self):
        return dict(ENV, SQLITE_TMPDIR=self.root)

    def new_database(self, name):
        return os.path.join(self.root, name + ".db")

    def drop_database(self, path):
        if os.path.exists(path):
            os.remove(path)

    def drop_records(self, path):
        with sqlite3.connect(path) as db:
            db.execute("DROP TABLE records")

    def sql(self, path, query):
        with sqlite3.connect(path) as db:
            return db.execute(query).fetchall()

    def rows(self, path):
        with sqlite3.connect(path) as db:
            return db.execute(f"SELECT {COLUMNS} FROM records ORDER BY rowid").fetchall()


class OnPostgres(Incremental, unittest.TestCase):
    PASSWORD = "desk-pass"
    WATCHED = True
    SEEDS = (1, 2)
    STEPS = 16  # each step makes a database: slower than a SQLite file

    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.addClassCleanup(cls.server.remove)
        cls.server.sql(f"CREATE ROLE desk LOGIN PASSWORD '{cls.PASSWORD}'")

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="incremental-", dir=WORK)

    def tearDown(self):
        shutil.rmtree(self.root)

    def env(self):
        return dict(self.server.env(self.PASSWORD), ASAN_OPTIONS=ENV.get("ASAN_OPTIONS", ""))

    def new_database(self, name):
        self.server.sql(f"CREATE DATABASE {name} OWNER desk ENCODING 'UTF8' TEMPLATE template0")
        return self.server.uri("desk", name)

    def drop_database(self, uri):
        self.server.sql(f"DROP DATABASE {uri.rsplit('/', 1)[1]}")

    def drop_records(self, uri):
        self.server.sql("DROP TABLE records", db=uri.rsplit("/", 1)[1])

    def sql(self, uri, query):
        return self.server.sql(query, db=uri.rsplit("/", 1)[1])

    def rows(self, uri):
        # The figures back to numbers, as SQLite gives them.
        table = self.server.sql(f"SELECT {COLUMNS} FROM records ORDER BY record_key", db=uri.rsplit("/", 1)[1])
        return sorted(((row[0], int(row[1]), int(row[2]), *row[3:]) for row in table), key=lambda row: row[-1])


if __name__ == "__main__":
    unittest.main()
