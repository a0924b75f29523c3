"""profiledesk-records find, end to end: records the desk program wrote, found from their files,
from a SQLite database and from a PostgreSQL one, case ignored across Unicode.

Usage: find_test.py RECORDS_PROGRAM DESK_PROGRAM WORK_FOLDER [SERVER_STATE_FILE]
  With SERVER_STATE_FILE, the PostgreSQL cases use the server `postgres_server.py start` left
  running; without it they are skipped.
"""

import itertools
import json
import os
import resource
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

RECORDS, DESK, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
STATE_FILE = sys.argv[4] if len(sys.argv) > 4 else None
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from machine import faketime_lib  # noqa: E402
import postgres_server  # noqa: E402

FAKETIME_LIB = faketime_lib()
DECOMPOSED_U = "u\u0308"  # u and a combining diaeresis: ü as some keyboards type it
# first, surname, place, date of birth, age, age again, years ahead, then ten more words.
# In file order and time order both: north holds the first two, south the others.
HANS = "Hans MÜLLER İstanbul 01-02-1990 36 36 2 Inst Road Kofi Mill Co Rep Lib 250 Mall School"
EVA = f"Eva M{DECOMPOSED_U}ller Ankara 01-02-1991 35 35 1 Inst Road Kofi Mill Co Rep Lib 250 Mall School"
AYSE = "Ayşe Yılmaz ISTANBUL 03-04-1992 34 34 3 Uni Bazaar Deniz Simit Tekstil Tamir Kutuphane 100 Cevahir Lise"
OMER = "Ömer Stein Berlin 05-06-1980 46 46 4 Tech Allee Jonas Müller-Bakery Werk Fix Stabi 90 Mall Gym"
ENTRIES = [("north", HANS, "2026-12-06 15:53:20"), ("north", EVA, "2026-12-07 09:10:00"),
           ("south", AYSE, "2026-12-08 11:00:00"), ("south", OMER, "2026-12-09 18:45:00")]
HANS_AT, EVA_AT, AYSE_AT, OMER_AT = ("north", 1), ("north", 2), ("south", 1), ("south", 2)


def bounded():
    """No run may write more than 16 MiB."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 20, 16 << 20))


def run(*args, env=None):
    return subprocess.run([RECORDS, *args], cwd=WORK, capture_output=True, timeout=60, env=env,
                          start_new_session=True, preexec_fn=bounded, check=False)


def found(done):
    """(desk, record) of each profile a --format jsonl run found, in its order."""
    return [(row["source"], row["record"]) for row in map(json.loads, done.stdout.splitlines())]


def setUpModule():
    global FOLDER, FILES
    os.makedirs(WORK, exist_ok=True)
    FOLDER = tempfile.mkdtemp(dir=WORK)
    unittest.addModuleCleanup(shutil.rmtree, FOLDER)
    for desk, answers, when in ENTRIES:
        os.makedirs(os.path.join(FOLDER, desk), exist_ok=True)
        env = dict(os.environ, TZ="UTC", FAKETIME=when, LD_PRELOAD=FAKETIME_LIB,
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        subprocess.run([DESK], cwd=os.path.join(FOLDER, desk), input=b"1 " + answers.encode() + b"\n", env=env,
                       stdout=subprocess.DEVNULL, start_new_session=True, timeout=30, check=True,
                       preexec_fn=bounded)
    FILES = [f"{desk}={os.path.join(FOLDER, desk, 'datas.dat')}" for desk in ("north", "south")]


class Matching(unittest.TestCase):
    def find(self, *args):
        done = run("find", *args, "--format", "jsonl", *FILES)
        self.assertEqual(done.stderr, b"")
        return done.returncode, found(done)

    def test_case_and_composition_are_ignored_in_every_answer(self):
        everywhere = (0, [HANS_AT, EVA_AT, OMER_AT])  # Omer's nearby business is Müller-Bakery
        for text in ("müller", "MÜLLER", "Müller", f"m{DECOMPOSED_U}ller", f"M{DECOMPOSED_U.upper()}LLER"):
            with self.subTest(text=text):
                self.assertEqual(self.find(text), everywhere)
        self.assertEqual(self.find("ＭÜＬＬＥＲ"), everywhere)  # full-width letters, as some keyboards give
        self.assertEqual(self.find("mueller"), (1, []))  # no spelling out of umlauts
        self.assertEqual(self.find("muller"), (1, []))  # nor dropping of accents

    def test_capital_i_with_dot_is_found_by_a_plain_i(self):
        for text in ("istanbul", "İstanbul", "ISTANBUL", "stan"):
            with self.subTest(text=text):
                self.assertEqual(self.find(text, "--field", "place_of_birth"), (0, [HANS_AT, AYSE_AT]))
        # The dotless ı is a letter of its own: Yılmaz is not "yilmaz", and istanbul not "ıstanbul".
        self.assertEqual(self.find("ıstanbul"), (1, []))
        self.assertEqual(self.find("yilmaz"), (1, []))
        self.assertEqual(self.find("YILMAZ"), (1, []))
        self.assertEqual(self.find("yılmaz"), (0, [AYSE_AT]))

    def test_field_limits_the_search_to_one_answer(self):
        self.assertEqual(self.find("müller", "--field", "surname"), (0, [HANS_AT, EVA_AT]))
        self.assertEqual(self.find("müller", "--field", "nearby_business"), (0, [OMER_AT]))
        self.assertEqual(self.find("mall", "--field", "shopping_centre"), (0, [HANS_AT, EVA_AT, OMER_AT]))
        # The desk's name and the time are not answers.
        self.assertEqual(self.find("north"), (1, []))
        self.assertEqual(self.find("2026"), (1, []))
        # Figures are answers too, as the record writes them.
        self.assertEqual(self.find("38", "--field", "age_after_years"), (0, [HANS_AT]))

    def test_days_keep_records_entered_within_them(self):
        self.assertEqual(self.find("müller", "--from", "2026-12-07", "--to", "2026-12-08"), (0, [EVA_AT]))
        self.assertEqual(self.find("müller", "--from", "2026-12-09"), (0, [OMER_AT]))
        self.assertEqual(self.find("müller", "--to", "2026-12-06"), (0, [HANS_AT]))
        self.assertEqual(self.find("istanbul", "--from", "2026-12-09"), (1, []))


class Showing(unittest.TestCase):
    def test_a_profile_shows_its_desk_its_time_its_key_and_its_answers_aligned(self):
        done = run("find", "ankara", *FILES)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        # The key a collate gives the record, by which the clerk's other commands name it.
        into = os.path.join(FOLDER, "keys.db")
        self.assertEqual(run("collate", "--into", into, *FILES).returncode, 0)
        with sqlite3.connect(into) as db:
            key = [row[0] for row in db.execute("SELECT record_key FROM records WHERE place_of_birth = 'Ankara'")]
        db.close()
        os.remove(into)
        self.assertEqual(len(key), 1)
        self.assertEqual(done.stdout.decode(), f"""north, 2026-12-07 09:10
  record_key            {key[0]}
  first_name            Eva
  surname               M{DECOMPOSED_U}ller
  place_of_birth        Ankara
  date_of_birth         01-02-1991
  age                   35
  education_centre      Inst
  street                Road
  coordinator           Kofi
  nearby_business       Mill
  productivity_company  Co
  maintenance_company   Rep
  zonal_library         Lib
  library_fee           250
  shopping_centre       Mall
  nearest_school        School
  years_ahead           1
  age_after_years       36
""")

    def test_profiles_are_parted_by_a_blank_line(self):
        done = run("find", "müller", "--field", "surname", *FILES)
        profiles = done.stdout.decode().split("\n\n")
        self.assertEqual([p.splitlines()[0] for p in profiles], ["north, 2026-12-06 15:53", "north, 2026-12-07 09:10"])
        self.assertEqual([len(p.splitlines()) for p in profiles], [19, 19])

    def test_csv_and_jsonl_are_the_export_rows_of_the_records_found(self):
        for form in ("csv", "jsonl"):
            with self.subTest(format=form):
                exported = run("export", "--format", form, *FILES).stdout.splitlines(keepends=True)
                done = run("find", "müller", "--field", "surname", "--format", form, *FILES)
                self.assertEqual(done.returncode, 0)
                # north's two records, the header first in CSV
                wanted = exported[:3] if form == "csv" else exported[:2]
                self.assertEqual(done.stdout.splitlines(keepends=True), wanted)
        self.assertTrue(done.stdout.startswith(b'{"source":"north","record":1,"line":1,'))


class ExitStatus(unittest.TestCase):
    def test_usage_errors_end_with_2(self):
        cases = {
            ("find", "x", "--field", "colour", *FILES): b"(the answers: first_name, surname, place_of_birth,",
            ("find", "x", "--from", "2026-12-09", "--to", "2026-12-01", *FILES): b"is later than --to",
            ("find", "x"): b"name the record files",
            ("find", "x", "--from-db", "office.db", *FILES): b"--from-db replaces FILE",
            ("find", "x", "--format", "xml", *FILES): b"--format",
            ("find", b"\xff", *FILES): b"TEXT is not UTF-8",
            # Folding drops these: what is left would be found in every profile.
            ("find", "\u200b\u00ad", *FILES): b"TEXT holds only characters that are not seen",
            ("find", "", *FILES): b"TEXT is empty",
        }
        for args, said in cases.items():
            with self.subTest(args=args[1:4]):
                done = run(*args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(said, done.stderr)
                self.assertEqual(done.stdout, b"")
        field = run("find", "x", "--field", "source", *FILES)
        self.assertEqual(field.returncode, 2)  # not an answer
        self.assertNotIn(b"source", field.stderr.split(b"(the answers:")[1])

    def test_problems_in_a_file_are_told_and_leave_the_status_to_the_matches(self):
        with open(os.path.join(FOLDER, "north", "datas.dat"), "rb") as f:
            whole = f.read()
        broken = os.path.join(FOLDER, "broken.dat")
        with open(broken, "wb") as f:
            f.write(whole + b"cut short\n")
        for text, status in (("müller", 0), ("nobody", 1)):
            with self.subTest(text=text):
                done = run("find", text, "--format", "jsonl", broken)
                self.assertEqual(done.returncode, status)
                self.assertRegex(done.stderr.decode(), r"broken\.dat:61: ")
        os.remove(broken)

    def test_a_file_that_cannot_be_read_ends_with_2_after_what_was_found(self):
        done = run("find", "müller", "--format", "jsonl", FILES[0], "missing.dat")
        self.assertEqual(done.returncode, 2)
        self.assertEqual(found(done), [HANS_AT, EVA_AT])
        self.assertIn(b"missing.dat", done.stderr)


class FromSqlite(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.db = os.path.join(FOLDER, "office.db")
        done = run("collate", "--into", cls.db, *FILES)
        assert done.returncode == 0, done.stderr

    def test_the_database_finds_what_the_files_find(self):
        # Also where the index of answers was dropped by hand: every answer is read instead.
        unindexed = os.path.join(FOLDER, "unindexed.db")
        shutil.copy(self.db, unindexed)
        with sqlite3.connect(unindexed) as db:
            db.executescript("DROP TABLE answer_values_folded; DROP TABLE answer_values; DROP TABLE answer_postings")
        db.close()
        for args in (["müller"], ["istanbul"], ["müller", "--field", "surname"],
                     ["müller", "--from", "2026-12-07", "--to", "2026-12-08"], ["nobody"]):
            for form, database in itertools.product(("jsonl", "csv", "text"), (self.db, unindexed)):
                with self.subTest(args=args, format=form, database=database):
                    files = run("find", *args, "--format", form, *FILES)
                    db = run("find", *args, "--format", form, "--from-db", database)
                    self.assertEqual((db.returncode, db.stdout, db.stderr), (files.returncode, files.stdout, b""))
        os.remove(unindexed)

    def test_a_missing_database_is_told_and_not_made(self):
        missing = os.path.join(FOLDER, "typo.db")
        done = run("find", "x", "--from-db", missing)
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"typo.db", done.stderr)
        self.assertFalse(os.path.exists(missing))

    def test_a_database_without_records_is_told(self):
        empty = os.path.join(FOLDER, "other.db")
        subprocess.run(["sqlite3", empty, "CREATE TABLE t(x)"], check=True, timeout=30)
        done = run("find", "x", "--from-db", empty)
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"other.db: has no records table; collate records into it first", done.stderr)
        os.remove(empty)


@unittest.skipUnless(STATE_FILE, "no PostgreSQL server for this run")
class FromPostgres(unittest.TestCase):
    PASSWORD = "finder-pass"

    @classmethod
    def setUpClass(cls):
        cls.server = postgres_server.attach(STATE_FILE)
        cls.server.sql(f"CREATE ROLE finder LOGIN PASSWORD '{cls.PASSWORD}'")
        cls.server.sql("CREATE DATABASE find_records OWNER finder ENCODING 'UTF8' TEMPLATE template0")
        cls.uri = cls.server.uri("finder", "find_records")
        cls.env = cls.server.env(cls.PASSWORD)
        done = run("collate", "--into", cls.uri, *FILES, env=cls.env)
        assert done.returncode == 0, done.stderr

    @classmethod
    def tearDownClass(cls):
        cls.server.sql("DROP DATABASE find_records")
        cls.server.sql("DROP ROLE finder")

    def test_the_server_finds_what_the_files_find(self):
        for args in (["müller"], ["ISTANBUL"], ["müller", "--field", "nearby_business"],
                     ["müller", "--from", "2026-12-07", "--to", "2026-12-08"], ["nobody"]):
            for form in ("jsonl", "csv", "text"):
                with self.subTest(args=args, format=form):
                    files = run("find", *args, "--format", form, *FILES)
                    db = run("find", *args, "--format", form, "--from-db", self.uri, env=self.env)
                    self.assertEqual((db.returncode, db.stdout, db.stderr), (files.returncode, files.stdout, b""))

    def test_a_server_that_refuses_is_told_with_2(self):
        done = run("find", "x", "--from-db", self.uri, env=self.server.env("wrong"))
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"finder@", done.stderr)


class IndexedSearch:
    """A thousand varied records: the records the database's index of answers names must be the
    ones the files give, through an append, a correction and an erasure, for texts too short for
    its trigrams, its own wildcards and quotes (alone and within a longer text), and every folding
    the files know."""
    TEXTS = ["dąbrowska", "öztürk", "O\u0308ZTU\u0308RK", "ozturk", "ОЛЬГА", "zürich", "ZÜRICH", "ring-road",
             "st-mary's", "ro", "ü", "%", "_", "\\", '"', 'o"k', "łUKASZ", "nguyễn", "1990", "mall", "0,5", "\u0130stanbul"]

    def target(self):
        raise NotImplementedError

    def find(self, *args, files=None):
        into, env = self.target()
        done = run("find", *args, "--format", "jsonl", *(files or ["--from-db", into]), env=env)
        self.assertEqual(done.stderr, b"")
        return done.returncode, found(done)

    def same_as_files(self, desk, texts):
        for text in texts:
            with self.subTest(text=text):
                self.assertEqual(self.find(text), self.find(text, files=[desk]))

    def test_the_index_names_every_record_the_files_give(self):
        folder = tempfile.mkdtemp(dir=FOLDER)
        made = os.path.join(folder, "made.dat")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "bench", "make_records.py"), DESK, made,
                        "1000000", "varied", "7"], check=True, timeout=120, preexec_fn=bounded)
        with open(made, "rb") as f:
            lines = f.read().splitlines(keepends=True)
        path = os.path.join(folder, "datas.dat")
        desk = "east=" + path
        into, env = self.target()
        for n, part in enumerate((lines[:600 * 30], lines[600 * 30:])):
            with open(path, "ab") as f:
                f.write(b"".join(part))
            done = run("collate", "--into", into, desk, env=env)
            self.assertEqual((done.returncode, done.stderr.startswith(b"profiledesk-records: made a new")),
                             (0, n == 0 and env is None))
            self.same_as_files(desk, self.TEXTS)
        self.assertEqual(self.trigram_searches(), 1)  # searched by the index, not read through
        # A correction is found by its new answer; an erased record by none of its old ones.
        exported = run("export", "--from-db", into, "--format", "jsonl", "--with-keys", env=env)
        rows = [json.loads(line) for line in exported.stdout.splitlines()]
        [first, second] = [row for row in rows if row["surname"] == "Dąbrowska"][:2]
        for command in (["correct", first["record_key"], "surname=Quetzalcoatl"], ["forget", second["record_key"]]):
            done = run(*command, "--db", into, "--why", "asked", env=env)
            self.assertEqual(done.returncode, 0, done.stderr)
        at = [(row["source"], row["record"]) for row in (first, second)]
        self.assertEqual(self.find("quetzal"), (0, at[:1]))
        status, others = self.find("DĄBROWSKA", files=[desk])
        self.assertEqual(self.find("DĄBROWSKA"), (status, [place for place in others if place not in at]))
        self.same_as_files(desk, ["ö", "ring-road"])
        shutil.rmtree(folder)


class IndexedSqlite(IndexedSearch, unittest.TestCase):
    def target(self):
        return os.path.join(FOLDER, "indexed.db"), None

    def trigram_searches(self):
        with sqlite3.connect(self.target()[0]) as db:
            (count,) = db.execute("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%USING fts5%trigram%'").fetchone()
        db.close()
        return count


@unittest.skipUnless(STATE_FILE, "no PostgreSQL server for this run")
class IndexedPostgres(IndexedSearch, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = postgres_server.attach(STATE_FILE)
        cls.server.sql("CREATE ROLE indexer LOGIN PASSWORD 'indexer-pass'")
        cls.server.sql("CREATE DATABASE indexed OWNER indexer ENCODING 'UTF8' TEMPLATE template0")

    @classmethod
    def tearDownClass(cls):
        cls.server.sql("DROP DATABASE indexed")
        cls.server.sql("DROP ROLE indexer")

    def target(self):
        return self.server.uri("indexer", "indexed"), self.server.env("indexer-pass")

    def trigram_searches(self):
        return int(self.server.sql("SELECT count(*) FROM pg_indexes WHERE indexdef LIKE '%gin_trgm_ops%'",
                                   "indexed")[0][0])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
