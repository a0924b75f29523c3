"""profiledesk-records report --from-db: the page drawn from a database that collate made,
into SQLite and into PostgreSQL. Desk files copied twice and converted to CRLF count twice on
a page from the files, once from the database; every figure is checked against the same figure
worked out in SQL here; a database of many long distinct answers is reported in little memory.

Usage: report_db_test.py DESK_PROGRAM RECORDS_PROGRAM WORK_FOLDER [SERVER_STATE_FILE]
  Without SERVER_STATE_FILE (the server `postgres_server.py start` left running), the
  PostgreSQL cases are skipped. Set PROFILEDESK_SANITIZED=1 for a sanitizer build, whose
  shadow memory makes the memory bound meaningless: that case then checks only the figures.
"""

import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

STATE_FILE = sys.argv.pop(4) if len(sys.argv) > 4 else None
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_test as files  # noqa: E402  (takes the first three arguments)
import postgres_server  # noqa: E402

SANITIZED = os.environ.get("PROFILEDESK_SANITIZED") == "1"
PASSWORD = "report-pass"
# Every answer in UTF-8, so that collate keeps each as typed.
NORTH = files.FILE_A
SOUTH = [record for record in files.FILE_B if all(isinstance(value, str) for value in record)]
# The age answers of NORTH and SOUTH once, by hand: bands of five years from their lowest age.
AGE_BANDS = [["-5\u2013-1", "1"], ["0\u20134", "1"], ["5\u20139", "1"], ["10\u201314", "0"], ["15\u201319", "1"],
             ["20\u201324", "1"], ["25\u201329", "0"], ["30\u201334", "0"], ["35\u201339", "1"], ["40\u201344", "4"],
             ["45\u201349", "1"]]
AGES_NOT_NUMBERS = 1  # "forty"
RANKED = [("place-of-birth", "place_of_birth", "Place of birth"), ("street", "street", "Street"),
          ("nearest-school", "nearest_school", "Nearest school")]


def run(*args, env=None, timeout=120):
    return subprocess.run([files.RECORDS, *args], capture_output=True, env=env, timeout=timeout,
                          start_new_session=True, check=False)


def crlf_copy(path, copy):
    with open(path, "rb") as source, open(copy, "wb") as target:
        target.write(source.read().replace(b"\n", b"\r\n"))
    return copy


class Desks:
    """Two desks' files, each also copied and converted to CRLF, as an office may find them."""

    def __init__(self, folder):
        north = files.write_records(os.path.join(folder, "north"), NORTH)
        south = files.write_records(os.path.join(folder, "south"), SOUTH)
        north_copy = os.path.join(folder, "north-copy.dat")
        shutil.copyfile(north, north_copy)
        south_crlf = crlf_copy(south, os.path.join(folder, "south-crlf.dat"))
        self.arguments = [f"north={north}", f"north={north_copy}", f"south={south}", f"south={south_crlf}"]


def page_of(result):
    return files.Page(result.stdout.decode())


class FiguresFromTheDatabase:
    """The cases both databases share: `self.db` names it, `self.env` is the environment to reach
    it in, `self.sql(query)` gives rows of text."""

    def test_each_record_counts_once_from_the_database_and_twice_from_the_files(self):
        from_files = files.report(*self.desks.arguments)
        from_db = run("report", "--from-db", self.db, env=self.env)
        self.assertEqual((from_files.returncode, from_files.stderr), (0, b""))
        self.assertEqual((from_db.returncode, from_db.stderr), (0, b""))
        by_files, by_db = page_of(from_files), page_of(from_db)
        self.assertEqual(by_files.rows("desks"), [["north", "14"], ["south", "10"]])
        self.assertEqual(by_db.rows("desks"), [["north", "7"], ["south", "5"]])
        self.assertEqual(by_files.rows("table0")[0], ["Records", "24"])
        self.assertEqual(by_db.rows("table0")[0], ["Records", "12"])
        # Desks stand where the files and their problems would.
        self.assertEqual([row[0] for row in by_db.rows("table0")], ["Records", "Desks", "First entry", "Last entry"])
        self.assertEqual(by_db.rows("table0")[1], ["Desks", "2"])
        self.assertNotIn("files", by_db.tables)
        self.assertIn("files", by_files.tables)
        self.assertEqual(by_db.rows("ages-table"), AGE_BANDS)
        self.assertEqual(by_files.rows("ages-table"), [[band, str(2 * int(n))] for band, n in AGE_BANDS])
        self.assertIn(f"{AGES_NOT_NUMBERS} age answer was not a whole number", by_db.text)
        self.assertIn("Drawn from the record files.", by_files.text)
        self.assertIn(f"Drawn from the database {self.shown_name}.", by_db.text)
        # Ties in the order of their bytes: " & K T {.
        self.assertEqual([row[1:3] for row in by_db.rows("place-of-birth")],
                         [["Accra", "4"], ["Lagos", "3"], [files.SCRIPT, "1"], ["&amp;", "1"], ["Kumasi", "1"],
                          ["Tamale", "1"], ["{{title}}", "1"]])

    def test_figures_match_sql(self):
        for dates, where in (((), ""),
                             (("--from", "2026-12-01", "--to", "2026-12-04"),
                              " WHERE substr(entered_at, 1, 10) BETWEEN '2026-12-01' AND '2026-12-04'"),
                             (("--from", "2026-12-05"), " WHERE substr(entered_at, 1, 10) >= '2026-12-05'")):
            with self.subTest(dates=dates):
                result = run("report", "--from-db", self.db, *dates, env=self.env)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                page = page_of(result)
                [[count, first, last]] = self.sql(f"SELECT count(*), min(entered_at), max(entered_at) FROM records{where}")
                totals = dict(row for row in page.rows("table0") if len(row) == 2)
                self.assertEqual((totals["Records"], totals["First entry"], totals["Last entry"]),
                                 (count, first.replace("T", " "), last.replace("T", " ")))
                days = self.sql(f"SELECT substr(entered_at, 1, 10), count(*) FROM records{where} GROUP BY 1 ORDER BY 1")
                self.assertEqual([row for row in page.rows("days-table") if row[1] != "0"], days)
                hours = dict(self.sql(f"SELECT substr(entered_at, 12, 2), count(*) FROM records{where} GROUP BY 1"))
                self.assertEqual(page.rows("hours-table"), [[str(h), hours.get(f"{h:02}", "0")] for h in range(24)])
                for table, column, heading in RANKED:
                    top = self.sql(f"SELECT {column}, count(*) FROM records{where} GROUP BY 1 "
                                   f"ORDER BY 2 DESC, {column} {self.bytes_order} LIMIT 10")
                    self.assertEqual([row[1:3] for row in page.rows(table)], top, table)
                    [[distinct]] = self.sql(f"SELECT count(DISTINCT {column}) FROM records{where}")
                    noun = "answer" if str(distinct) == "1" else "answers"
                    self.assertIn(f"{heading}: {distinct} distinct {noun}\n", page.text)
                desks = self.sql(f"SELECT source, count(*) FROM records{where} GROUP BY 1 ORDER BY 1")
                self.assertEqual(page.rows("desks"), desks)


class FromSqlite(FiguresFromTheDatabase, unittest.TestCase):
    maxDiff = None
    bytes_order = ""
    env = None

    @classmethod
    def setUpClass(cls):
        os.makedirs(files.WORK, exist_ok=True)
        cls.folder = tempfile.mkdtemp(dir=files.WORK, prefix="report-db-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.desks = Desks(cls.folder)
        cls.db = cls.shown_name = os.path.join(cls.folder, "office.db")
        collated = run("collate", "--into", cls.db, *cls.desks.arguments)
        assert collated.stdout == b"12 added, 12 already present, 0 problems\n", collated
        os.chmod(cls.db, 0o444)  # read, never written

    def sql(self, query):
        with sqlite3.connect(f"file:{self.db}?mode=ro", uri=True) as db:
            return [[str(value) for value in row] for row in db.execute(query)]

    def test_what_is_not_a_records_database_is_one_line_and_nothing_is_made(self):
        missing = os.path.join(self.folder, "missing.db")
        empty = os.path.join(self.folder, "empty.db")
        with sqlite3.connect(empty) as db:
            db.execute("CREATE TABLE other (x)")
        db.close()
        text = os.path.join(self.folder, "text.db")
        with open(text, "w") as f:
            f.write("not a database\n" * 100)
        for db, reason in ((missing, "no such database"),
                           (empty, "has no records table; collate records into it first"),
                           (text, "not a SQLite database")):
            with self.subTest(db=db):
                result = run("report", "--from-db", db)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (1, b"", f"profiledesk-records: {db}: {reason}\n".encode()))
        self.assertFalse(os.path.exists(missing))

    def test_usage_errors(self):
        page = os.path.join(self.folder, "page.html")
        with open(self.db, "rb") as f:
            before = f.read()
        for args, message in ((("--from-db", self.db, self.desks.arguments[0]),
                               "--from-db replaces FILE and --desks: give one or the other"),
                              (("--from-db", self.db, "--desks", "desks.toml"),
                               "--from-db replaces FILE and --desks: give one or the other"),
                              (("--from-db", self.db, "-o", self.db),
                               f"{self.db}: is the database to report on; name another page")):
            with self.subTest(args=args):
                result = run("report", *args)
                self.assertEqual((result.returncode, result.stderr),
                                 (2, f"profiledesk-records: {message}\n".encode()))
        with open(self.db, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(run("report", "--from-db", self.db, "-o", page).returncode, 0)
        with open(page, encoding="utf-8") as f:
            self.assertIn(f"Drawn from the database {self.db}.", files.Page(f.read()).text)

    def test_many_long_distinct_answers_take_little_memory(self):
        # 20,000 distinct answers of 4 KiB each: about 80 MiB of answers, which a report that
        # held them all could not draw in 64 MiB.
        db = os.path.join(self.folder, "many.db")
        shutil.copyfile(self.db, db)
        os.chmod(db, 0o644)
        with sqlite3.connect(db) as connection:
            connection.execute("INSERT INTO records (source, record, line, entered_at, first_name, surname, "
                               "place_of_birth, date_of_birth, age, education_centre, street, coordinator, "
                               "nearby_business, productivity_company, maintenance_company, zonal_library, "
                               "library_fee, shopping_centre, nearest_school, years_ahead, age_after_years, "
                               "record_key) SELECT source, record, line, entered_at, first_name, surname, "
                               "printf('%04d', n) || hex(randomblob(2046)), date_of_birth, n, education_centre, "
                               "street, coordinator, nearby_business, productivity_company, maintenance_company, "
                               "zonal_library, library_fee, shopping_centre, nearest_school, years_ahead, "
                               "age_after_years, record_key || '-' || n FROM (SELECT * FROM records LIMIT 1), "
                               "(WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k WHERE n < 20000) "
                               "SELECT n FROM k)")
        connection.close()
        env = dict(os.environ, SQLITE_TMPDIR=self.folder)  # its sorts spill here, not to /tmp
        result = subprocess.run(["/usr/bin/time", "-f", "%M", files.RECORDS, "report", "--from-db", db],
                                capture_output=True, env=env, timeout=300, start_new_session=True, check=False)
        self.assertEqual(result.returncode, 0, result.stderr[-500:])
        peak_kib = int(result.stderr.decode().splitlines()[-1])
        if not SANITIZED:
            self.assertLess(peak_kib, 64 * 1024, f"peak {peak_kib} KiB")
            print(f"\nreport --from-db of 20,000 answers of 4 KiB: peak {peak_kib} KiB", file=sys.stderr)
        page = page_of(result)
        self.assertIn("Place of birth: 20007 distinct answers", page.text)
        self.assertEqual(page.rows("table0")[0], ["Records", "20012"])
        os.remove(db)

    def test_answers_of_megabytes_make_a_small_page(self):
        db = os.path.join(self.folder, "huge.db")
        shutil.copyfile(self.db, db)
        os.chmod(db, 0o644)
        huge = 4 << 20
        with sqlite3.connect(db) as connection:
            connection.execute("UPDATE records SET age = ?, street = ?, looks = 'age-not-number' WHERE rowid = "
                               "(SELECT min(rowid) FROM records)", ("4" * (huge - 1) + "x", "S" * huge))
        connection.close()
        result = run("report", "--from-db", db, env=dict(os.environ, SQLITE_TMPDIR=self.folder))
        os.remove(db)
        self.assertEqual(result.returncode, 0, result.stderr[-500:])
        self.assertLess(len(result.stdout), 100_000)
        page = page_of(result)
        self.assertIn(f"{'S' * 200}\u2026 (4,194,304 bytes)", [row[1] for row in page.rows("street")])
        quoted = f"the age '{'4' * 200}\u2026 ({huge} bytes)' is not a number;"
        self.assertTrue(any(row[3].startswith(quoted) for row in page.rows("look-records")))

    def test_first_and_last_entries_are_read_from_times_that_read_as_times(self):
        # Times mistyped by hand sort before and after every real one: the totals pass them over.
        db = os.path.join(self.folder, "mistyped.db")
        shutil.copyfile(self.db, db)
        os.chmod(db, 0o644)
        with sqlite3.connect(db) as connection:
            connection.execute("UPDATE records SET entered_at = '0000' WHERE rowid = (SELECT min(rowid) FROM records)")
            connection.execute("UPDATE records SET entered_at = 'soon' WHERE rowid = (SELECT max(rowid) FROM records)")
            # A day with an hour no clock shows (the first past the last): counted on its day, in no hour.
            connection.execute("UPDATE records SET entered_at = substr(entered_at, 1, 11) || '24:00' WHERE rowid = "
                               "(SELECT min(rowid) + 1 FROM records)")
            [[first, last]] = connection.execute("SELECT min(entered_at), max(entered_at) FROM records WHERE "
                                                 "entered_at GLOB '[0-9][0-9][0-9][0-9]-*T*'").fetchall()
        connection.close()
        result = run("report", "--from-db", db)
        os.remove(db)
        self.assertEqual(result.returncode, 0, result.stderr[-500:])
        page = page_of(result)
        totals = dict(row for row in page.rows("table0") if len(row) == 2)
        self.assertEqual((totals["First entry"], totals["Last entry"]),
                         (first.replace("T", " "), last.replace("T", " ")))
        self.assertEqual(sum(int(row[1]) for row in page.rows("hours-table")), int(totals["Records"]) - 3)
        self.assertEqual(sum(int(row[1]) for row in page.rows("days-table")), int(totals["Records"]) - 2)


@unittest.skipUnless(STATE_FILE, "no PostgreSQL server")
class FromPostgres(FiguresFromTheDatabase, unittest.TestCase):
    maxDiff = None
    bytes_order = 'COLLATE "C"'

    @classmethod
    def setUpClass(cls):
        os.makedirs(files.WORK, exist_ok=True)
        cls.folder = tempfile.mkdtemp(dir=files.WORK, prefix="report-pg-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.server = postgres_server.attach(STATE_FILE)
        cls.server.sql("DROP DATABASE IF EXISTS report_office")
        cls.server.sql("DROP ROLE IF EXISTS reporter")
        cls.server.sql(f"CREATE ROLE reporter LOGIN PASSWORD '{PASSWORD}'")
        # A linguistic collation, as an office's server may have, under which '{' comes before 'K':
        # the page's ties must still be in the order of their bytes.
        cls.server.sql("CREATE DATABASE report_office OWNER reporter ENCODING 'UTF8' TEMPLATE template0 "
                       "LOCALE_PROVIDER icu ICU_LOCALE 'en' LOCALE 'C'")
        assert cls.server.sql("SELECT '{' < 'K'", "report_office") == [["t"]]
        cls.db = cls.shown_name = cls.server.uri("reporter", "report_office")
        cls.env = cls.server.env(PASSWORD)
        cls.desks = Desks(cls.folder)
        collated = run("collate", "--into", cls.db, *cls.desks.arguments, env=cls.server.env(PASSWORD))
        assert collated.stdout == b"12 added, 12 already present, 0 problems\n", collated
        # An answer column in the database's own collation, as release 1.0.0 made them.
        cls.server.sql('ALTER TABLE records ALTER COLUMN place_of_birth TYPE text COLLATE "default"',
                       "report_office")

    def sql(self, query):
        return self.server.sql(query, "report_office")

    def test_what_is_not_a_records_database_is_one_line(self):
        self.server.sql("DROP DATABASE IF EXISTS report_empty")
        self.server.sql("CREATE DATABASE report_empty OWNER reporter")
        empty = self.server.uri("reporter", "report_empty")
        result = run("report", "--from-db", empty, env=self.server.env(PASSWORD))
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (1, b"", f"profiledesk-records: {empty}: has no records table; collate records into it "
                                  "first\n".encode()))
        with_password = self.db.replace("reporter@", f"reporter:{PASSWORD}@")
        result = run("report", "--from-db", with_password, env=self.server.env(PASSWORD))
        self.assertEqual(result.returncode, 1)
        self.assertNotIn(PASSWORD.encode(), result.stderr)
        self.assertIn(b"a password on the command line is refused", result.stderr)

    # The page names the server, and the password given in the environment is nowhere on it.
    def test_the_page_does_not_show_the_password(self):
        result = run("report", "--from-db", self.db, env=self.server.env(PASSWORD))
        self.assertEqual(result.returncode, 0)
        self.assertNotIn(PASSWORD.encode(), result.stdout)


if __name__ == "__main__":
    unittest.main()
