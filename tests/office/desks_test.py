"""profiledesk-records with desks named (NAME=PATH, --desks) and answers in a named encoding
(--encoding): what every command calls each desk, and answers read back as UTF-8 by Python's
sqlite3 and csv and by jq.

Usage: desks_test.py RECORDS_PROGRAM FRAGMENTS_FOLDER WORK_FOLDER
"""

import csv
import errno
import html
import io
import json
import os
import re
import resource
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from quiet import without_looks, without_made  # noqa: E402

RECORDS, FRAGMENTS, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
HINT = b": not UTF-8 (a Windows desk? try --encoding CP1252)\n"


def bounded():
    """No run may write more than 16 MiB."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 20, 16 << 20))


def fragment(name):
    with open(os.path.join(FRAGMENTS, name), "rb") as f:
        return f.read()


JANE = fragment("record-jane.txt")
JOHN = fragment("record-john.txt")


def record(base=JANE, first=b"Jane", surname=b"Roe", place=b"Accra", day=b"6"):
    """A record the desk wrote, with other answers and day (of December 2026)."""
    return (base.replace(b"Name :: Jane Roe", b"Name :: " + first + b" " + surname)
            .replace(b"Birth Is :: Accra", b"Birth Is :: " + place)
            .replace(b"Date Is 6 December", b"Date Is " + day + b" December"))


class Desks(unittest.TestCase):
    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        self.scratch = tempfile.TemporaryDirectory(dir=WORK)
        self.folder = self.scratch.name

    def tearDown(self):
        self.scratch.cleanup()

    def write(self, name, *records):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"".join(records))
        return name

    def run_tool(self, *args):
        done = subprocess.run([RECORDS, *args], cwd=self.folder, capture_output=True, timeout=60,
                              start_new_session=True, preexec_fn=bounded, check=False)
        if args[0] == "check":
            done.stdout = without_looks(done.stdout)
        done.stderr = without_made(done.stderr)
        return done

    def collate(self, *args):
        return self.run_tool("collate", "--into", "office.db", *args)

    def rows(self, sql):
        with sqlite3.connect(os.path.join(self.folder, "office.db")) as db:
            return db.execute(sql).fetchall()

    def test_one_path_on_two_days_told_apart_by_name_everywhere(self):
        # The clerk copies a desk's file from the same stick on each visit.
        self.write("usb/datas.dat", record(first=b"Ama", day=b"6"))
        first = self.collate("north=usb/datas.dat")
        self.assertEqual((first.returncode, first.stdout, first.stderr),
                         (0, b"1 added, 0 already present, 0 problems\n", b""))
        self.write("monday/datas.dat", record(first=b"Ama", day=b"6"))
        self.write("usb/datas.dat", record(first=b"Kojo", day=b"7"))
        second = self.collate("south=usb/datas.dat")
        self.assertEqual(second.stdout, b"1 added, 0 already present, 0 problems\n")
        self.assertEqual(self.rows("SELECT source, first_name FROM records ORDER BY rowid"),
                         [("north", "Ama"), ("south", "Kojo")])
        # Again under the same names, or the first under a new one: nothing twice.
        again = self.collate("south=usb/datas.dat", "east=monday/datas.dat")
        self.assertEqual(again.stdout, b"0 added, 2 already present, 0 problems\n")
        self.assertEqual(self.rows("SELECT count(*) FROM records"), [(2,)])

        exported = self.run_tool("export", "north=monday/datas.dat", "south=usb/datas.dat")
        self.assertEqual(exported.returncode, 0)
        rows = list(csv.reader(io.StringIO(exported.stdout.decode(), newline="")))
        self.assertEqual([(row[0], row[4]) for row in rows[1:]], [("north", "Ama"), ("south", "Kojo")])

        page = self.run_tool("report", "north=monday/datas.dat", "south=usb/datas.dat")
        self.assertEqual(page.returncode, 0)
        desks = re.findall(r'<tr><td class="answer">([^<]*)</td><td class="answer">([^<]*)</td>',
                           html.unescape(page.stdout.decode()))
        self.assertEqual(desks, [("north", "monday/datas.dat"), ("south", "usb/datas.dat")])

        checked = self.run_tool("check", "north=monday/datas.dat", "usb/datas.dat")
        self.assertEqual(checked.stdout, b"monday/datas.dat: 1 whole record (desk north)\n"
                                         b"usb/datas.dat: 1 whole record\n")

    def test_names_and_paths_on_the_command_line(self):
        self.write("a=b.dat", JANE)
        named = self.run_tool("export", "--format", "jsonl", "./a=b.dat", "x=./a=b.dat")
        self.assertEqual(named.returncode, 0, named.stderr)
        self.assertEqual([json.loads(line)["source"] for line in named.stdout.splitlines()], ["./a=b.dat", "x"])
        for argument in ("=a.dat", "north="):
            refused = self.run_tool("check", argument)
            self.assertEqual((refused.returncode, refused.stdout), (2, b""), argument)
            self.assertTrue(refused.stderr.startswith(b"profiledesk-records: " + argument.encode() + b": "))
            self.assertEqual(refused.stderr.count(b"\n"), 1)
        # The name is not a path: a=b.dat is the desk a, reading b.dat.
        self.assertEqual(self.run_tool("check", "a=b.dat").stderr,
                         b"profiledesk-records: b.dat: No such file or directory\n")

    def test_a_windows_desk_reads_back_as_utf8_in_sqlite3_csv_and_jq(self):
        # One answer in each of three fields of a record, so each is found where it moved.
        self.write("cp1252.dat", record(first="José".encode("cp1252"), surname="Müller".encode("cp1252"),
                                        place="Zürich—Nord".encode("cp1252")),
                   record(JOHN), record(first="Œdipe".encode("cp1252"), day=b"8"))
        done = self.collate("--encoding", "cp1252", "cp1252.dat")
        self.assertEqual((done.returncode, done.stdout, done.stderr),
                         (0, b"3 added, 0 already present, 0 problems\n", b""))
        self.assertEqual(self.rows("SELECT first_name, surname, place_of_birth FROM records ORDER BY rowid"),
                         [("José", "Müller", "Zürich—Nord"), ("John", "Doe", "Lagos"), ("Œdipe", "Roe", "Accra")])
        self.assertEqual(len(self.rows("SELECT * FROM records")), 3)

        as_csv = self.run_tool("export", "--encoding", "CP1252", "cp1252.dat")
        self.assertEqual(as_csv.returncode, 0)
        rows = list(csv.reader(io.StringIO(as_csv.stdout.decode("utf-8"), newline="")))
        self.assertEqual([row[4:7] for row in rows[1:]],
                         [["José", "Müller", "Zürich—Nord"], ["John", "Doe", "Lagos"], ["Œdipe", "Roe", "Accra"]])
        as_jsonl = self.run_tool("export", "--format", "jsonl", "--encoding", "Cp1252", "cp1252.dat")
        picked = subprocess.run(["jq", "-r", ".first_name + \"|\" + .place_of_birth"], input=as_jsonl.stdout,
                                capture_output=True, timeout=30, check=True).stdout.decode("utf-8")
        self.assertEqual(picked, "José|Zürich—Nord\nJohn|Lagos\nŒdipe|Accra\n")

    def test_encoding_named_late_reads_the_desk_again_and_unnamed_is_told_once_a_file(self):
        latin = record(first="Zoë".encode("latin-1"), place="Köln".encode("latin-1"))
        self.write("old.dat", latin, record(JOHN), record(first="Aïcha".encode("latin-1"), day=b"9"))
        unnamed = self.collate("old.dat", "old.dat")
        self.assertEqual((unnamed.returncode, unnamed.stdout, unnamed.stderr),
                         (0, b"3 added, 3 already present, 0 problems\n", b"old.dat" + HINT + b"old.dat" + HINT))
        self.assertEqual(self.rows("SELECT first_name, place_of_birth FROM records WHERE record = 1"),
                         [("Zo\ufffd", "K\ufffdln")])
        # Named later, the desk is read again and its answers decoded anew; nothing is added.
        named = self.collate("--encoding", "ISO-8859-15", "old.dat")
        self.assertEqual((named.stdout, named.stderr),
                         (b"0 added, 3 already present, 0 problems\n",
                          b"old.dat: read again as ISO-8859-15 (was UTF-8): 2 records' answers changed\n"))
        self.assertEqual(self.rows("SELECT first_name, place_of_birth FROM records ORDER BY record"),
                         [("Zoë", "Köln"), ("John", "Lagos"), ("Aïcha", "Accra")])
        # Named from the start, it is read right.
        os.remove(os.path.join(self.folder, "office.db"))
        self.collate("--encoding", "iso-8859-15", "old.dat")
        self.assertEqual(self.rows("SELECT first_name, place_of_birth FROM records WHERE record = 1"),
                         [("Zoë", "Köln")])

    def test_bytes_not_in_the_named_encoding_are_told_on_their_lines(self):
        # 0x81 is no character in CP1252; line 7 holds the name, line 8 the place of birth.
        self.write("odd.dat", record(first=b"J\x81ne", place=b"Acc\x81a"), record(first=b"\x81", day=b"7"))
        done = self.run_tool("export", "--format", "jsonl", "--encoding", "CP1252", "odd.dat")
        self.assertEqual((done.returncode, done.stderr),
                         (0, b"odd.dat:7: not CP1252\nodd.dat:8: not CP1252\nodd.dat:37: not CP1252\n"))
        self.assertEqual([json.loads(line)["first_name"] for line in done.stdout.splitlines()],
                         ["J\ufffdne", "\ufffd"])
        as_utf8 = self.run_tool("check", "--encoding", "utf-8", "odd.dat")
        self.assertEqual((as_utf8.returncode, as_utf8.stdout),
                         (0, b"odd.dat:7: not UTF-8\nodd.dat:8: not UTF-8\nodd.dat:37: not UTF-8\n"
                             b"odd.dat: 2 whole records\n"))
        # A Hebrew letter, a byte CP1255 leaves undefined, and another letter.
        self.write("hebrew.dat", record(first=b"\xe0\xfc\xe9"))
        done = self.run_tool("export", "--format", "jsonl", "--encoding", "CP1255", "hebrew.dat")
        self.assertEqual(done.stderr, b"hebrew.dat:7: not CP1255\n")
        self.assertEqual(json.loads(done.stdout)["first_name"], "\u05d0\ufffd\u05d9")
        unnamed = self.run_tool("check", "odd.dat")
        self.assertEqual(unnamed.stdout, b"odd.dat" + HINT + b"odd.dat: 2 whole records\n")

    def test_unknown_encoding_is_a_usage_error(self):
        self.write("datas.dat", JANE)
        for command in (["check"], ["export"], ["collate", "--into", "office.db"], ["report"]):
            done = self.run_tool(*command, "--encoding", "EBCDIC", "datas.dat")
            self.assertEqual((done.returncode, done.stdout), (2, b""), command)
            self.assertRegex(done.stderr.decode(), r"^profiledesk-records: --encoding: unknown encoding 'EBCDIC' "
                                                   r"\(known: UTF-8, .*CP1252.*\)\n$")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "office.db")))
        # Every encoding the message offers converts here, the Windows code pages among them.
        offered = re.search(r"known: ([^)]*)", done.stderr.decode())[1].split(", ")
        self.assertTrue({"CP437", "CP850", "CP852", "CP866", "ISO-8859-1", "ISO-8859-15"} <= set(offered))
        self.assertTrue({f"CP{page}" for page in range(1250, 1259)} <= set(offered))
        self.write("high.dat", record(first=b"\xe0\xe9"))
        for name in offered:
            done = self.run_tool("export", "--format", "jsonl", "--encoding", name.lower(), "high.dat")
            self.assertEqual(done.returncode, 0, name)
            self.assertEqual(len(json.loads(done.stdout)["first_name"]), 2, name)  # two characters, or two U+FFFD

    def test_desks_file_names_paths_patterns_and_encodings(self):
        self.write("office/north/monday.dat", record(first=b"Ama"))
        self.write("office/north/tuesday.dat", record(first=b"Kojo", day=b"7"))
        self.write("office/south/datas.dat", record(first="Zoë".encode("cp850")))
        self.write("office/west/datas.dat", record(first="Łukasz".encode("cp1250")))
        self.write("office/desks.toml", b"""# the office's desks
[[desk]]
name = "north"
path = "north/*.dat"

[[desk]]
name = "south"
path = "south/datas.dat"
encoding = "cp850"

[[desk]]
name = "west"
path = "west/datas.dat"
""")
        done = self.run_tool("export", "--format", "jsonl", "--encoding", "CP1250", "--desks", "office/desks.toml")
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertEqual([(row["source"], row["first_name"]) for row in map(json.loads, done.stdout.splitlines())],
                         [("north", "Ama"), ("north", "Kojo"), ("south", "Zoë"), ("west", "Łukasz")])
        checked = self.run_tool("check", "--encoding", "CP1250", "--desks", "office/desks.toml")
        self.assertEqual(checked.stdout.decode().splitlines(), [
            "office/north/monday.dat: 1 whole record (desk north)",
            "office/north/tuesday.dat: 1 whole record (desk north)",
            "office/south/datas.dat: 1 whole record (desk south)",
            "office/west/datas.dat: 1 whole record (desk west)"])
        both = self.run_tool("check", "--desks", "office/desks.toml", "office/west/datas.dat")
        self.assertEqual((both.returncode, both.stderr.count(b"\n")), (2, 1))

    def test_an_output_a_pattern_names_is_refused_whether_or_not_it_is_there(self):
        # Written there today, it would be read back as the desk's file tomorrow.
        self.write("north/a.dat", record(first=b"Ama"))
        self.write("desks.toml", b'[[desk]]\nname = "north"\npath = "north/*.dat"\n')
        told = b"profiledesk-records: ./north/out.dat: the desks file's north/*.dat names it, so it would be read as desk north; "
        for command, last in ((["export"], b"output file"), (["report"], b"page"), (["collate"], b"database")):
            option = "--into" if command == ["collate"] else "-o"
            done = self.run_tool(*command, "--desks", "desks.toml", option, "./north/out.dat")
            self.assertEqual((done.returncode, done.stderr), (2, told + b"name another " + last + b"\n"))
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder, "north"))), ["a.dat"])
        # Beside the pattern, or past a '.' its wildcard does not match, is no desk's file.
        for output in ("north/out.csv", "north/.out.dat", "out.dat"):
            self.assertEqual(self.run_tool("export", "--desks", "desks.toml", "-o", output).returncode, 0, output)

    def test_what_a_pattern_matches_that_is_no_regular_file_is_told_and_skipped_never_waited_on(self):
        # A FIFO nobody writes to once stalled every command: anyone who may write in a
        # desk's folder could hold up the office's daily collate.
        self.write("north/a.dat", record(first=b"Ama"))
        os.mkfifo(os.path.join(self.folder, "north", "b.dat"))
        os.mkdir(os.path.join(self.folder, "north", "c.dat"))
        os.makedirs(os.path.join(self.folder, "south"))
        os.mkfifo(os.path.join(self.folder, "south", "only.dat"))  # a pattern's one match is matched too
        self.write("desks.toml", b'[[desk]]\nname = "north"\npath = "north/*.dat"\n'
                                 b'[[desk]]\nname = "south"\npath = "south/*.dat"\n')
        told = (b"north/b.dat: not a regular file; skipped\nnorth/c.dat: not a regular file; skipped\n"
                b"south/only.dat: not a regular file; skipped\n")
        checked = self.run_tool("check", "--desks", "desks.toml")
        self.assertEqual((checked.returncode, checked.stdout, checked.stderr),
                         (0, b"north/a.dat: 1 whole record (desk north)\n" + told, b""))
        for command in (["export"], ["report"], ["find", "Ama"], ["collate", "--into", "office.db"]):
            done = self.run_tool(*command, "--desks", "desks.toml")
            self.assertEqual((done.returncode, done.stderr), (0, told), command)
        # Named on its own, as a shell would name it, a FIFO is read to its end.
        self.write("fifo.toml", b'[[desk]]\nname = "pipe"\npath = "north/b.dat"\n')
        reading = subprocess.Popen([RECORDS, "check", "--desks", "fifo.toml"], cwd=self.folder, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True, preexec_fn=bounded)
        self.addCleanup(reading.kill)
        deadline = time.monotonic() + 30
        while True:  # not blocking on a FIFO nobody opens: ENXIO until the reader has it open
            try:
                pipe = os.open(os.path.join(self.folder, "north", "b.dat"), os.O_WRONLY | os.O_NONBLOCK)
                break
            except OSError as error:
                self.assertTrue(error.errno == errno.ENXIO and time.monotonic() < deadline, error)
                time.sleep(0.05)
        os.set_blocking(pipe, True)
        os.write(pipe, record(first=b"Kofi"))
        os.close(pipe)
        out, err = reading.communicate(timeout=60)
        self.assertEqual((reading.returncode, without_looks(out), err),
                         (0, b"north/b.dat: 1 whole record (desk pipe)\n", b""))

    def test_a_hostile_name_reaches_no_output_raw_and_every_output_is_utf8(self):
        # A file named so, matched by a pattern, once set the terminal's title and cleared it.
        hostile = b"x\x1b]0;PWNED\x07\x1b[2J\xc2\x9b\xff\n"
        shown = "x^[]0;PWNED^G^[[2J<U+009B><0xFF>^J"
        path = b"hostile/" + hostile + b".dat"
        self.write(os.fsdecode(path), JANE, b"\n".join(JANE.split(b"\n")[:3]) + b"\n")  # one whole, one cut short
        desk = '"d\\u001b]0;PWNED\\u0007\\u009b\\n"'
        self.write("desks.toml", f'[[desk]]\nname = {desk}\npath = "hostile/*.dat"\n'.encode())
        self.write("twice.toml", f'[[desk]]\nname = {desk}\npath = "a"\n[[desk]]\nname = {desk}\npath = "b"\n'.encode())
        named = b"n\x1b[2J\xc2\x9b\xff=" + path

        checked = self.run_tool("check", "--desks", "desks.toml")
        self.assertEqual(checked.stdout.decode().splitlines(), [
            f"hostile/{shown}.dat:31: a record cut short (3 of 30 lines)",
            f"hostile/{shown}.dat: 1 whole record (desk d^[]0;PWNED^G<U+009B>^J)"])
        runs = [checked, self.run_tool("check", named), self.run_tool("check", "--desks", "twice.toml"),
                self.run_tool("export", "--format", "jsonl", named), self.run_tool("export", "--desks", "desks.toml"),
                self.run_tool("export", named), self.run_tool("report", named), self.run_tool("find", "jane", named),
                self.run_tool("find", "--format", "csv", "jane", path),
                self.run_tool("collate", "--into", os.path.join(self.folder, "office.db"), named)]
        for run in runs:
            # Rows for programs keep a C1 control as the character it is (JSON escapes the rest).
            rows = run.args[1] == "export" or "--format" in run.args
            for stream, allowed in ((run.stdout, "\r\n" + "\x9b" * rows), (run.stderr, "\n")):
                text = stream.decode()  # UTF-8, or it fails here
                if text.startswith("source,"):
                    # CSV is exact data: each name in its cell as given, but in UTF-8.
                    sources = {row[0] for row in list(csv.reader(io.StringIO(text, newline="")))[1:]}
                    self.assertLessEqual(sources, {"n\x1b[2J\x9b\ufffd", "d\x1b]0;PWNED\x07\x9b\n",
                                                   "hostile/x\x1b]0;PWNED\x07\x1b[2J\x9b\ufffd\n.dat"})
                    for source in sources:
                        text = text.replace('"' + source + '"', "").replace(source, "")
                raw = [c for c in text if (ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F) and c not in allowed]
                self.assertEqual(raw, [], (run.args, stream))
            for line in run.stderr.decode().splitlines():
                self.assertTrue(line.startswith(("profiledesk-records: ", "hostile/x^[")), (run.args, line))
        self.assertIn(b"a second desk named 'd^[]0;PWNED^G<U+009B>^J'", runs[2].stderr)

    def test_mistakes_in_a_desks_file_are_one_line_at_their_place(self):
        cases = [
            (b'[[desk]]\nname = "north"\npath = "a.dat\n', 3, "Error while parsing string"),
            (b'[[desk]]\nname = "a"\npath = "a.dat"\n\n[[desk]]\npath = "b.dat"\n', 5, "a desk without a name"),
            (b'[[desk]]\nname = "a"\npath = "a.dat"\ncolour = "red"\n', 1, "unknown key 'colour'"),
            (b'\n[[desk]]\nname = "a"\npath = "a.dat"\nencoding = "KLINGON"\n', 2, "unknown encoding 'KLINGON'"),
            (b'[[desk]]\nname = "a"\npath = "a.dat"\n[[desk]]\nname = "a"\npath = "b.dat"\n', 4,
             "a second desk named 'a' (the first on line 1)"),
            (b'title = "desks"\n', 1, "'title' is not a [[desk]] table"),
            (b'[[desk]]\nname = 7\npath = "a.dat"\n', 1, "name is not a text"),
        ]
        for content, line, what in cases:
            self.write("desks.toml", content)
            for command in (["check"], ["report"], ["collate", "--into", "office.db"]):
                done = self.run_tool(*command, "--desks", "desks.toml")
                self.assertEqual((done.returncode, done.stdout), (2, b""), (content, command))
                self.assertRegex(done.stderr.decode(), rf"^profiledesk-records: desks\.toml:{line}: "
                                                       rf"{re.escape(what)}[^\n]*\n$", content)
        self.write("empty.toml")
        self.assertEqual(self.run_tool("check", "--desks", "empty.toml").stderr,
                         b"profiledesk-records: empty.toml: no [[desk]] table\n")
        os.mkdir(os.path.join(self.folder, "folder.toml"))
        self.assertEqual(self.run_tool("check", "--desks", "folder.toml").stderr,
                         b"profiledesk-records: folder.toml: Is a directory\n")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "office.db")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
