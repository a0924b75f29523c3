"""The office's database, the same on SQLite and PostgreSQL: a database made by release 1.0.0 is
carried forward in place, one made by a later release is refused, and a desk whose name holds a
NUL or bytes that are not UTF-8 is kept apart and collated again as any other.

Usage: database_test.py RECORDS_PROGRAM FRAGMENTS_FOLDER WORK_FOLDER [SERVER_STATE_FILE]
  With SERVER_STATE_FILE, the PostgreSQL cases use the server `postgres_server.py start` left
  running; without it they are skipped.
"""

import os
import resource
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import unittest

RECORDS, FRAGMENTS, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
STATE_FILE = sys.argv[4] if len(sys.argv) > 4 else None
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import postgres_server  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from quiet import without_made  # noqa: E402

FIXTURES = os.path.join(HERE, "fixtures")
KOELN = "K\xf6ln".encode("latin-1")  # a folder a Windows desk copied, named in its code page


def fragment(name):
    with open(os.path.join(FRAGMENTS, name), "rb") as f:
        return f.read()


JANE, JOHN, ADA = fragment("record-jane.txt"), fragment("record-john.txt"), fragment("record-failed.txt")
JOAN = JOHN.replace(b"John", b"Joan")  # a record of its own


def bounded():
    resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 20, 16 << 20))


class Office:
    """One kind of database, and the desks' folder beside it."""

    def __init__(self, test, kind):
        self.test = test
        self.kind = kind
        self.folder = tempfile.mkdtemp(dir=WORK).encode()
        test.addCleanup(shutil.rmtree, self.folder)
        self.env = dict(os.environ)
        if kind == "sqlite":
            self.name = os.path.join(self.folder, b"office.db")
        else:
            self.server = postgres_server.attach(STATE_FILE)
            db = "office_" + os.path.basename(self.folder).decode().lower().replace("-", "_")
            self.server.sql(f"CREATE DATABASE {db}")
            test.addCleanup(self.server.sql, f"DROP DATABASE {db}")
            self.db = db
            self.name = self.server.uri(postgres_server.ADMIN, db).encode()
            self.env = self.server.env(postgres_server.ADMIN_PASSWORD)

    def write(self, path, *records, mode="wb"):
        full = os.path.join(self.folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, mode) as f:
            f.write(b"".join(records))
        return path

    def run(self, *args, stdout=subprocess.PIPE):
        return subprocess.run([RECORDS, *args], cwd=self.folder, stdout=stdout, stderr=subprocess.PIPE, env=self.env,
                              timeout=60, start_new_session=True, preexec_fn=bounded, check=False)

    def collate(self, *args):
        done = self.run("collate", "--into", self.name, *args)
        done.stderr = without_made(done.stderr)
        return done

    def load(self, dump):
        """Makes the database from a dump as release 1.0.0 left it."""
        with open(os.path.join(FIXTURES, dump), encoding="ascii") as f:
            script = f.read()
        if self.kind == "sqlite":
            with sqlite3.connect(self.name) as db:
                db.executescript(script)
            db.close()
            return
        # Through psql's standard input, which a dump's COPY reads its rows from.
        subprocess.run([f"{postgres_server.BIN}/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", self.server.folder,
                        "-p", postgres_server.PORT, "-U", postgres_server.ADMIN, "-d", self.db, "-f", "-"],
                       input=script.encode(), capture_output=True, env=self.env, timeout=60, check=True)

    def sql(self, query):
        if self.kind == "sqlite":
            with sqlite3.connect(self.name) as db:
                db.text_factory = bytes
                rows = [[v.decode("utf-8", "backslashreplace") if isinstance(v, bytes) else str(v) for v in row]
                        for row in db.execute(query)]
            db.close()
            return rows
        return self.server.sql(query, self.db)

    def version(self):
        query = "PRAGMA user_version" if self.kind == "sqlite" else "SELECT version FROM profiledesk_schema"
        return self.sql(query)[0][0]


class Database:
    KIND = None

    def office(self):
        return Office(self, self.KIND)

    def assert_run(self, result, status, stdout, stderr=b""):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (status, stdout, stderr))

    def test_a_database_of_release_1_0_0_is_carried_forward_once_and_collated_on(self):
        office = self.office()
        office.load(f"office-1.0.0.{self.KIND}.sql")
        north = office.write(b"north/datas.dat", JANE, JOHN)
        # The first run that opens it, a reader, carries it forward and says so in one line.
        result = office.run("find", "--from-db", office.name, "--format", "csv", "--field", "surname", "o")
        self.assertEqual((result.returncode, result.stderr),
                         (0, b"profiledesk-records: " + office.name + b": carried forward from schema version 1 "
                          b"to 4\n"))
        # The header, Roe and Doe, and the Köln desk's Lovelace where SQLite kept that desk.
        self.assertEqual(result.stdout.count(b"\r\n"), 4 if self.KIND == "sqlite" else 3)
        self.assertEqual(office.version(), "4")
        again = office.run("find", "--from-db", office.name, "Jane")
        self.assertEqual((again.returncode, again.stderr), (0, b""))
        # Its checkpoint still holds: only what was appended is read and added.
        office.write(b"north/datas.dat", JOAN, mode="ab")
        desks = [b"north=" + north]
        if self.KIND == "sqlite":
            desks.append(office.write(KOELN + b"/datas.dat", ADA))
        self.assert_run(office.collate(*desks), 0,
                        b"1 added, %d already present, 0 problems\n" % (len(desks) + 1))
        # The database gains the office's work in place: a record of 1.0.0 is corrected and shown.
        [key] = office.sql("SELECT record_key FROM records WHERE first_name = 'John'")[0]
        by = [] if self.KIND == "postgres" else ["--by", "ann"]
        corrected = office.run("correct", "--db", office.name, key[:8], "surname=Dough", "--why", "typo", *by)
        self.assertEqual((corrected.returncode, corrected.stdout), (0, b"corrected 1 record\n"))
        self.assertIn(b"correct surname: Doe -> Dough  (typo)", office.run("show", "--db", office.name, key).stdout)
        if self.KIND == "postgres":
            # Release 1.0.0 left the answers nullable; a street a hand emptied reads as no answer.
            self.assertEqual(office.sql("SELECT count(*) FROM information_schema.columns WHERE "
                                        "table_name = 'records' AND is_nullable = 'YES'"), [["0"]])
            self.assertEqual(office.sql("SELECT street FROM records WHERE record = 2"), [[""]])
        else:
            # The folder's name kept as its bytes then is kept written out now, checkpoint and all.
            self.assertEqual(office.sql("SELECT DISTINCT source FROM records ORDER BY 1"),
                             [["K\\xf6ln/datas.dat"], ["north"]])
            self.assertEqual(office.sql("SELECT source FROM collate_checkpoints ORDER BY 1"),
                             [["K\\xf6ln/datas.dat"], ["north"]])

    def test_the_tables_a_release_adds_get_the_rights_given_on_the_records(self):
        if self.KIND != "postgres":
            self.skipTest("SQLite has no roles")
        office = self.office()
        office.load("office-1.0.0.postgres.sql")
        clerk, viewer = office.db + "_clerk", office.db + "_viewer"
        for role, rights in ((clerk, "SELECT, INSERT"), (viewer, "SELECT")):
            office.server.sql(f"CREATE ROLE {role}")
            office.sql(f"GRANT {rights} ON records TO {role}")
            self.addCleanup(office.server.sql, f"DROP ROLE {role}")
            self.addCleanup(office.sql, f"DROP OWNED BY {role}")
        self.assertEqual(office.run("find", "--from-db", office.name, "qqq").returncode, 1)
        # The index follows the records: who may add them may keep it in step in every way. The
        # history does not: adding to it is not erasing it.
        asked = [(clerk, "answer_postings", "DELETE"), (clerk, "answer_values", "UPDATE"),
                 (clerk, "record_changes", "INSERT"), (clerk, "record_changes", "DELETE"),
                 (viewer, "answer_values", "SELECT"), (viewer, "answer_values", "INSERT")]
        self.assertEqual(office.sql(" UNION ALL ".join(f"SELECT has_table_privilege('{role}', '{table}', '{right}')"
                                                       for role, table, right in asked)),
                         [["t"], ["t"], ["t"], ["f"], ["t"], ["f"]])

    def test_a_database_of_a_later_release_is_refused_and_left_as_it_was(self):
        office = self.office()
        north = office.write(b"north/datas.dat", JANE)
        self.assert_run(office.collate(b"north=" + north), 0, b"1 added, 0 already present, 0 problems\n")
        office.sql("PRAGMA user_version = 5" if self.KIND == "sqlite" else "UPDATE profiledesk_schema SET version = 5")
        told = (b"profiledesk-records: " + office.name + b": made by a later release of profiledesk-records "
                b"(schema version 5; this release knows up to version 4)\n")
        # find ends as grep does, with 2 for a database it could not read.
        for command, status in ((["collate", "--into", office.name, b"north=" + north], 1),
                                (["report", "--from-db", office.name], 1),
                                (["find", "--from-db", office.name, "Jane"], 2)):
            with self.subTest(command=command[0]):
                self.assert_run(office.run(*command), status, b"", told)
        self.assertEqual(office.version(), "5")
        # One of the release before is carried forward, its version noted where it was kept.
        office.sql("PRAGMA user_version = 3" if self.KIND == "sqlite" else "UPDATE profiledesk_schema SET version = 3")
        result = office.run("find", "--from-db", office.name, "Jane")
        self.assertEqual((result.returncode, result.stderr), (0, b"profiledesk-records: " + office.name +
                                                              b": carried forward from schema version 3 to 4\n"))
        self.assertEqual(office.version(), "4")

    def test_a_desk_named_with_a_nul_or_bytes_that_are_not_utf8_is_kept_apart_and_collated_on(self):
        office = self.office()
        office.write(b"a.dat", JANE, JOHN)
        office.write(b"b.dat", JOAN)
        # Two names that differ only past a NUL, and a folder named in a Windows code page.
        with open(os.path.join(office.folder, b"desks.toml"), "w", encoding="utf-8") as f:
            f.write('[[desk]]\nname = "a\\u0000x"\npath = "a.dat"\n[[desk]]\nname = "a\\u0000y"\npath = "b.dat"\n')
        koeln = office.write(KOELN + b"/datas.dat", ADA)
        kept = b" name is not plain UTF-8 text; its records are kept under "
        self.assert_run(office.collate("--desks", "desks.toml"), 0, b"3 added, 0 already present, 0 problems\n",
                        b"a.dat: the desk's" + kept + b"a\\x00x\nb.dat: the desk's" + kept + b"a\\x00y\n")
        self.assert_run(office.collate(koeln), 0, b"1 added, 0 already present, 0 problems\n",
                        b"K<0xF6>ln/datas.dat: the file's" + kept + b"K\\xf6ln/datas.dat\n")
        self.assertEqual(office.sql("SELECT source, count(*) FROM records GROUP BY source ORDER BY source"),
                         [["K\\xf6ln/datas.dat", "1"], ["a\\x00x", "2"], ["a\\x00y", "1"]])
        # A record entered again at each desk is added once more, and nothing else.
        office.write(b"a.dat", JANE, mode="ab")
        office.write(KOELN + b"/datas.dat", ADA, mode="ab")
        self.assertEqual(office.collate("--desks", "desks.toml").stdout, b"1 added, 3 already present, 0 problems\n")
        self.assertEqual(office.collate(koeln).stdout, b"1 added, 1 already present, 0 problems\n")
        self.assertEqual(office.collate("--full", koeln).stdout, b"0 added, 2 already present, 0 problems\n")
        self.assertEqual(office.sql("SELECT count(*) FROM records"), [["6"]])


    def test_collates_of_one_desk_at_once_all_succeed_and_add_each_record_once(self):
        office = self.office()
        office.write(b"north.dat", JANE)
        office.collate(b"north=north.dat")
        office.write(b"north.dat", JOHN, JOAN, mode="ab")
        results = [None] * 8
        runs = [threading.Thread(target=lambda n=n: results.__setitem__(n, office.collate(
            "--wait", "60", b"north=north.dat"))) for n in range(len(results))]
        for run in runs:
            run.start()
        for run in runs:
            run.join()
        self.assertEqual([(r.returncode, r.stderr) for r in results], [(0, b"")] * len(results))
        # Each waited for the one before and read on from where it stopped.
        added = sorted(int(r.stdout.split()[0]) for r in results)
        self.assertEqual(added, [0] * (len(results) - 1) + [2])
        self.assertEqual(office.sql("SELECT count(*) FROM records"), [["3"]])


class OnSqlite(Database, unittest.TestCase):
    KIND = "sqlite"

    def test_a_database_made_is_said_and_one_a_run_failed_to_fill_is_not_left(self):
        office = self.office()
        office.write(b"north.dat", JANE)
        made = office.run("collate", "--into", "office.dv", "north.dat")
        self.assertEqual((made.returncode, made.stderr), (0, b"profiledesk-records: made a new database office.dv\n"))
        self.assertEqual(office.run("collate", "--into", "office.dv", "north.dat").stderr, b"")
        # A run that cannot write the database it made (a disk full, here a file-size limit)
        # leaves no empty database behind.
        failed = subprocess.run([RECORDS, "collate", "--into", "other.db", "north.dat"], cwd=office.folder,
                                capture_output=True, timeout=60, check=False,
                                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (2048, 2048)))
        self.assertEqual(failed.returncode, 1, failed.stderr)
        self.assertEqual(sorted(os.listdir(office.folder)), [b"north.dat", b"office.dv"])


@unittest.skipIf(STATE_FILE is None, "no PostgreSQL server")
class OnPostgres(Database, unittest.TestCase):
    KIND = "postgres"


if __name__ == "__main__":
    os.makedirs(WORK, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=1)
